#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kestrane::model {

// Every provider, in the canonical order used everywhere (preferences, badge, probe). New
// providers are appended: the order and the raw values are stored in preferences and history.
enum class ProviderKind {
    codex,
    cursor,
    claude,
    kimi,
    antigravity,
    copilot,
    gemini,
    zai,
    minimax,
    openrouter
};

inline constexpr std::array<ProviderKind, 10> allProviderKinds{
    ProviderKind::codex,       ProviderKind::cursor,    ProviderKind::claude, ProviderKind::kimi,
    ProviderKind::antigravity, ProviderKind::copilot,   ProviderKind::gemini, ProviderKind::zai,
    ProviderKind::minimax,     ProviderKind::openrouter};

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
        case ProviderKind::copilot:
            return "GitHub Copilot";
        case ProviderKind::gemini:
            return "Gemini CLI";
        case ProviderKind::zai:
            return "z.ai";
        case ProviderKind::minimax:
            return "MiniMax";
        case ProviderKind::openrouter:
            return "OpenRouter";
    }
    return {};
}

// The one-word name on the command line and in file names: "codex", "copilot", "gemini".
constexpr std::string_view commandName(ProviderKind kind) {
    switch (kind) {
        case ProviderKind::codex:
            return "codex";
        case ProviderKind::cursor:
            return "cursor";
        case ProviderKind::claude:
            return "claude";
        case ProviderKind::kimi:
            return "kimi";
        case ProviderKind::antigravity:
            return "antigravity";
        case ProviderKind::copilot:
            return "copilot";
        case ProviderKind::gemini:
            return "gemini";
        case ProviderKind::zai:
            return "zai";
        case ProviderKind::minimax:
            return "minimax";
        case ProviderKind::openrouter:
            return "openrouter";
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

// A word of the command line: the command name or the raw value, in any case.
constexpr std::optional<ProviderKind> providerKindFromCommandWord(std::string_view word) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    const auto equalIgnoringCase = [&](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (lower(a[i]) != lower(b[i])) return false;
        }
        return true;
    };
    for (const ProviderKind kind : allProviderKinds) {
        if (equalIgnoringCase(word, commandName(kind)) || equalIgnoringCase(word, rawValue(kind))) {
            return kind;
        }
    }
    return std::nullopt;
}

}  // namespace kestrane::model
