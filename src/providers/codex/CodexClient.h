#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/LimitWindow.h"
#include "model/ProviderUsage.h"
#include "model/RecentModelContext.h"
#include "platform/Clock.h"
#include "platform/Date.h"
#include "platform/Environment.h"
#include "platform/Json.h"

namespace kestrane::providers {

class CodexRPC;

// How long each answer of the Codex app server may take. Tests scale these down.
struct CodexLimits {
    // The answers the quota needs.
    static constexpr std::chrono::seconds answerLimit{15};
    // Recent sessions are a nicety; a slow answer must not hold up the quota.
    static constexpr std::chrono::seconds threadListLimit{2};

    std::chrono::milliseconds initialize{answerLimit};
    std::chrono::milliseconds accountRead{answerLimit};
    std::chrono::milliseconds rateLimitsRead{answerLimit};
    std::chrono::milliseconds threadList{threadListLimit};

    // The longest single wait; the fetch's deadline (FetchDeadlines) is counted from it.
    constexpr std::chrono::milliseconds longest() const {
        return std::max({initialize, accountRead, rateLimitsRead, threadList});
    }
};

// Fetches the Codex quota by starting the user's own `codex` executable as an app server
// and asking it over JSON-RPC on its standard input and output. It uses the login the user
// already made with Codex; it keeps nothing between fetches and never leaves the child
// running.
class CodexClient {
  public:
    using Limits = CodexLimits;

    CodexClient(const platform::Environment& environment, const platform::Clock& clock,
                Limits limits = {});

    // The file the `codex` executable keeps its login in: $CODEX_HOME/auth.json, else
    // ~/.codex/auth.json. The client never reads it (the app server does).
    static std::filesystem::path authFile(const platform::Environment& environment);
    // Whether that file is there; starts nothing.
    static bool hasStoredSignIn(const platform::Environment& environment);

    // Looks for the executables and runs the exchange with the first one that answers.
    // Blocks; throws QuotaError (or a platform error) on failure.
    model::ProviderUsage fetch() const;
    model::ProviderUsage fetchSynchronously(const std::vector<std::string>& executables) const;

    // The quota from the answers to "account/read" and "account/rateLimits/read".
    static model::ProviderUsage usage(const platform::Json& accountResult,
                                      const platform::Json& limitsResult, platform::Date now);
    // Models of the local sessions of the last 24 hours, most recently used first.
    static std::vector<model::RecentModelContext> recentModels(const platform::Json& result,
                                                               platform::Date now);

    static std::vector<model::LimitWindow> windows(const platform::Json& bucket,
                                                   const std::string& fallbackName);
    static std::vector<model::LimitWindow> deduplicate(std::vector<model::LimitWindow> windows);
    static std::string prettyPlan(std::string_view raw);
    // Numbers arrive as JSON numbers or as decimal strings; anything else counts as absent.
    static std::optional<double> lenientDouble(const platform::Json& value);

  private:
    std::unique_ptr<CodexRPC> connect(const std::vector<std::string>& executables) const;
    std::filesystem::path temporaryDirectory() const;
    std::string childSearchPath(const std::string& executable) const;

    const platform::Environment& environment_;
    const platform::Clock& clock_;
    Limits limits_;
};

}  // namespace kestrane::providers
