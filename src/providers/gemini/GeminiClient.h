#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "model/ProviderUsage.h"
#include "platform/Clock.h"
#include "platform/Date.h"
#include "platform/EndpointOrigin.h"
#include "platform/Environment.h"
#include "platform/HttpClient.h"
#include "providers/HttpProviderClient.h"

namespace kestrane::providers {

// Fetches the Gemini CLI's daily model quotas with the Google sign-in the CLI left on this
// machine. An expired access token is renewed in memory with the stored refresh token, which
// Google leaves valid (it issues no new one for installed applications); nothing is ever
// written back to the CLI's files, and nothing is kept between fetches.
class GeminiClient : public HttpProviderClient<GeminiClient> {
  public:
    // How settings.json says the CLI signs in.
    enum class AuthType { unknown, google, apiKey, vertex, other };

    struct Credentials {
        std::string accessToken;
        std::optional<std::string> refreshToken;
        std::optional<platform::Date> expiresAt;
        // From the ID token's claims; for display and the history's account only.
        std::optional<std::string> email;

        bool operator==(const Credentials&) const = default;
    };

    // What loadCodeAssist says about the account.
    struct CodeAssist {
        std::optional<std::string> project;
        std::optional<std::string> plan;

        bool operator==(const CodeAssist&) const = default;
    };

    static constexpr std::string_view originVariable = "KESTRANE_GEMINI_ORIGIN";
    // Time limits of each request (idle, and its whole exchange); a fetch makes up to three
    // one after another: renewing the session, the project, the quota.
    static constexpr std::chrono::seconds requestIdleLimit{10};
    static constexpr std::chrono::seconds requestExchangeLimit{15};
    static constexpr int requestsPerFetch = 3;
    static constexpr std::string_view authOriginVariable = "KESTRANE_GEMINI_AUTH_ORIGIN";
    // The CLI's own setting for the folder that holds .gemini.
    static constexpr std::string_view homeVariable = "GEMINI_CLI_HOME";

    // `http` defaults to the shared Gemini session (10 s request, 15 s resource limits).
    GeminiClient(const platform::Environment& environment, const platform::Clock& clock,
                 const platform::HttpClient* http = nullptr);

    model::ProviderUsage fetch() const;

    // $GEMINI_CLI_HOME/.gemini, else ~/.gemini.
    static std::filesystem::path geminiDirectory(const platform::Environment& environment);

    // security.auth.selectedType (or the older top-level selectedAuthType) of settings.json,
    // which may hold comments; unknown when the file says nothing readable.
    static AuthType decodeAuthType(std::string_view settings);
    // oauth_creds.json. Throws QuotaError when it holds no usable token.
    static Credentials decodeCredentials(std::string_view data);
    // The `email` claim of a JWT, read without checking its signature (display only).
    static std::optional<std::string> emailFromIdToken(std::string_view idToken);

    // The token endpoint's answer: the new access token. Throws QuotaError.
    static std::string parseRenewedToken(std::string_view data);
    // loadCodeAssist's answer. Throws QuotaError.
    static CodeAssist parseCodeAssist(std::string_view data);
    // retrieveUserQuota's answer: one daily window per model family (Pro, Flash, Flash Lite,
    // then any other), each the family's most used bucket. Throws QuotaError.
    static model::ProviderUsage parseQuota(std::string_view data, platform::Date now);

  private:
    std::string renewedAccessToken(const std::string& refreshToken) const;
    CodeAssist loadCodeAssist(const std::string& accessToken, int& status) const;

    // Google's token endpoint, beside the Code Assist origin the base holds.
    platform::EndpointOrigin authOrigin_;
};

// Whether the Gemini CLI's Google sign-in is stored here (settings do not name another way of
// signing in, and oauth_creds.json holds a token): files only, no request.
bool geminiHasSignIn(const platform::Environment& environment);

}  // namespace kestrane::providers
