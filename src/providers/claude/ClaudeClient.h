#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/LimitWindow.h"
#include "model/ProviderUsage.h"
#include "platform/Clock.h"
#include "platform/Date.h"
#include "platform/Environment.h"
#include "platform/HttpClient.h"
#include "platform/Keychain.h"
#include "providers/HttpProviderClient.h"

namespace kestrane::providers {

// Fetches the Claude subscription's quota with the OAuth session the Claude command-line
// tool left on this machine (or a token from the environment). Keeps nothing between
// fetches and never renews the session: an expired one is reported, not refreshed.
class ClaudeClient : public HttpProviderClient<ClaudeClient> {
  public:
    struct Credentials {
        std::string accessToken;
        std::optional<std::string> refreshToken;
        std::optional<platform::Date> expiresAt;
        std::vector<std::string> scopes;
        std::optional<std::string> rateLimitTier;
        std::optional<std::string> subscriptionType;

        std::optional<std::string> plan() const;
        bool operator==(const Credentials&) const = default;
    };

    // Claude Code's item in the system keychain, where the macOS port keeps it; nothing on
    // Linux (platform::keychainGenericPassword). Tests stand in for it.
    using KeychainSession = std::function<platform::KeychainItem()>;

    static constexpr std::string_view apiOriginVariable = "KESTRANE_CLAUDE_API_ORIGIN";
    static constexpr std::string_view tokenVariable = "KESTRANE_CLAUDE_OAUTH_TOKEN";
    // Claude Code's own setting for the folder that holds .credentials.json.
    static constexpr std::string_view configDirectoryVariable = "CLAUDE_CONFIG_DIR";

    // Time limits of every request: connecting or waiting for the next bytes of the answer,
    // and the whole exchange. The whole exchange is the shorter, so it is what ends a stalled
    // request; the fetch's deadline (FetchDeadlines) is counted from it.
    static constexpr std::chrono::seconds requestIdleLimit{60};
    static constexpr std::chrono::seconds requestExchangeLimit{20};

    // `http` defaults to the shared Claude session (the limits above), `keychainSession` to
    // the system keychain's item.
    ClaudeClient(const platform::Environment& environment, const platform::Clock& clock,
                 const platform::HttpClient* http = nullptr, KeychainSession keychainSession = {});

    model::ProviderUsage fetch() const;

    // The first usable session: the token variable, the credentials file, then the keychain
    // item. Throws QuotaError when there is none.
    Credentials loadCredentials() const;
    static Credentials loadCredentials(const platform::Environment& environment,
                                       const KeychainSession& keychainSession = {});
    // Whether loadCredentials would find a session; reads only local files and the keychain.
    static bool hasStoredSignIn(const platform::Environment& environment,
                                const KeychainSession& keychainSession = {});
    // $CLAUDE_CONFIG_DIR/.credentials.json, else ~/.claude/.credentials.json.
    static std::filesystem::path credentialsFile(const platform::Environment& environment);

    static Credentials decodeCredentials(std::string_view data);
    static model::ProviderUsage parseUsage(std::string_view data,
                                           const std::optional<std::string>& plan,
                                           platform::Date now);
    static std::optional<platform::Date> parseDate(const std::optional<std::string>& text);
    static std::vector<model::LimitWindow> deduplicate(std::vector<model::LimitWindow> windows);

  private:
    KeychainSession keychainSession_;
};

}  // namespace kestrane::providers
