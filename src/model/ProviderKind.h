#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kestrane::model {

// The five providers, in the canonical order used everywhere (preferences, badge, probe).
enum class ProviderKind { codex, cursor, claude, kimi, antigravity };

inline constexpr std::array<ProviderKind, 5> allProviderKinds{
    ProviderKind::codex, ProviderKind::cursor, ProviderKind::claude, ProviderKind::kimi,
    ProviderKind::antigravity};

// The raw value: display name, identifier and persisted form at once.
constexpr std::string_view rawValue(ProviderKind kind) {
    switch (kind) {
        case ProviderKind::codex:
            return "Codex";
        case ProviderKind::cursor:
            return "Cursor";
        case ProviderKind::claude:
            return "Claude";
        case ProviderKind::kimi:
            return "Kimi";
        case ProviderKind::antigravity:
            return "Antigravity";
    }
    return {};
}

// Exact, case-sensitive match against the raw values.
constexpr std::optional<ProviderKind> providerKindFromRawValue(std::string_view text) {
    for (const ProviderKind kind : allProviderKinds) {
        if (rawValue(kind) == text) return kind;
    }
    return std::nullopt;
}

}  // namespace kestrane::model
