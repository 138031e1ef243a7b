#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

#include "platform/Environment.h"
#include "providers/ApiKeys.h"

namespace kestrane::providers {

// A host Claude Code may be pointed at (ANTHROPIC_BASE_URL) that belongs to a provider: the
// domain (the host itself or any host under it) and the origin of the provider's own API
// there. The key is only ever sent to that origin, never to the base URL as written.
struct ClaudeCodeHost {
    std::string_view domain;
    std::string_view origin;
};

// The variable with which Claude Code moves its folder.
inline constexpr std::string_view claudeConfigDirectoryVariable = "CLAUDE_CONFIG_DIR";

// Claude Code's own folder: $CLAUDE_CONFIG_DIR, else ~/.claude.
std::filesystem::path claudeCodeDirectory(const platform::Environment& environment);

// The key Claude Code runs on when the `env` block of its settings.json points
// ANTHROPIC_BASE_URL at one of `hosts`: ANTHROPIC_AUTH_TOKEN, else ANTHROPIC_API_KEY. Reads
// only that file and never throws; a file or key it cannot use counts as none.
std::optional<ApiKey> claudeCodeApiKey(const platform::Environment& environment,
                                       std::span<const ClaudeCodeHost> hosts);

}  // namespace kestrane::providers
