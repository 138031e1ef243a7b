#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "model/ProviderUsage.h"
#include "platform/Clock.h"
#include "platform/Date.h"
#include "platform/Environment.h"
#include "platform/HttpClient.h"
#include "providers/HttpProviderClient.h"

namespace kestrane::providers {

// Fetches the GitHub Copilot quotas with the GitHub sign-in a Copilot editor plug-in or the
// GitHub CLI left on this machine. Reads their files as they are and never writes them; keeps
// nothing between fetches.
class CopilotClient : public HttpProviderClient<CopilotClient> {
  public:
    // A GitHub OAuth token and, when the file names it, the account it belongs to.
    struct SignIn {
        std::string token;
        std::optional<std::string> user;

        bool operator==(const SignIn&) const = default;
    };

    // The GitHub CLI's token for github.com; nullopt when it has none. Throws QuotaError when
    // the CLI does not answer in time.
    using GithubCliToken = std::function<std::optional<std::string>()>;

    static constexpr std::string_view originVariable = "KESTRANE_COPILOT_ORIGIN";
    // Time limits: `gh auth token`, then one request (idle, and its whole exchange).
    static constexpr std::chrono::seconds githubCliLimit{5};
    static constexpr std::chrono::seconds requestIdleLimit{15};
    static constexpr std::chrono::seconds requestExchangeLimit{20};
    // The GitHub CLI's own setting for the folder that holds hosts.yml.
    static constexpr std::string_view githubCliConfigVariable = "GH_CONFIG_DIR";

    // `http` defaults to the shared Copilot session (15 s request, 20 s resource limits);
    // `githubCliToken` to running `gh auth token` with a 5 s limit.
    CopilotClient(const platform::Environment& environment, const platform::Clock& clock,
                  const platform::HttpClient* http = nullptr, GithubCliToken githubCliToken = {});

    model::ProviderUsage fetch() const;

    // The first sign-in found: the Copilot plug-ins' apps.json, their older hosts.json, the
    // GitHub CLI's hosts.yml when it holds the token in plain text, then `gh auth token`.
    // Throws QuotaError when there is none.
    SignIn loadSignIn() const;

    // $XDG_CONFIG_HOME/github-copilot when that is an absolute path, else
    // ~/.config/github-copilot.
    static std::filesystem::path copilotConfigDirectory(const platform::Environment& environment);
    // $GH_CONFIG_DIR, else $XDG_CONFIG_HOME/gh, else ~/.config/gh.
    static std::filesystem::path githubCliConfigDirectory(const platform::Environment& environment);

    // The github.com entry of apps.json ("github.com:<client id>" keys) or hosts.json
    // ("github.com"), with `oauth_token` and `user`; nullopt when there is none.
    static std::optional<SignIn> decodeCopilotSignIns(std::string_view data);
    // The github.com block of the GitHub CLI's hosts.yml, when it holds `oauth_token` in plain
    // text (the CLI keeps it in the system keyring otherwise).
    static std::optional<SignIn> decodeGithubCliHosts(std::string_view data);
    // `gh auth token`'s output as a token, when it is one.
    static std::optional<std::string> tokenFromCliOutput(std::string_view output);
    // Runs `gh auth token` (the first `gh` on PATH or in the usual folders) for at most `limit`,
    // in a process group of its own that is ended with it, so that nothing it started is
    // left running. nullopt when there is no gh or it has no token; throws QuotaError when it
    // does not answer within `limit`.
    static std::optional<std::string> githubCliToken(const platform::Environment& environment,
                                                     std::chrono::milliseconds limit);

    // The copilot_internal/user answer as windows. Throws QuotaError.
    static model::ProviderUsage parseUsage(std::string_view data, platform::Date now);
    // "2025-08-01T00:00:00Z" or a bare "2025-08-01" (midnight UTC).
    static std::optional<platform::Date> parseResetDate(std::string_view text);

  private:
    GithubCliToken githubCliToken_;
};

// Whether a Copilot plug-in's sign-in file holds a github.com token: files only, nothing
// started. The GitHub CLI's sign-in alone does not count, as it says nothing about Copilot.
bool copilotHasSignIn(const platform::Environment& environment);

}  // namespace kestrane::providers
