#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/ProviderUsage.h"
#include "platform/Clock.h"
#include "platform/Date.h"
#include "platform/Environment.h"
#include "platform/HostDescription.h"
#include "platform/HttpClient.h"
#include "providers/HttpProviderClient.h"

namespace kestrane::providers {

// Fetches the Kimi Code quota with the credential of the Kimi Code command-line tool,
// presenting the same identity headers the tool sends. Keeps nothing between fetches; the
// only thing it ever writes is the tool's device id file, when that is missing.
class KimiClient : public HttpProviderClient<KimiClient> {
  public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    static constexpr std::string_view originVariable = "KESTRANE_KIMI_ORIGIN";
    static constexpr std::string_view apiKeyVariable = "KIMI_CODE_API_KEY";
    static constexpr std::string_view homeVariable = "KIMI_CODE_HOME";

    // Time limits of every request: connecting or waiting for the next bytes of the answer,
    // and the whole exchange. The whole exchange is the shorter, so it is what ends a stalled
    // request; the fetch's deadline (FetchDeadlines) is counted from it.
    static constexpr std::chrono::seconds requestIdleLimit{60};
    static constexpr std::chrono::seconds requestExchangeLimit{20};

    // `http` defaults to the shared Kimi session (the limits above).
    KimiClient(const platform::Environment& environment, const platform::Clock& clock,
               const platform::HttpClient* http = nullptr);

    model::ProviderUsage fetch() const;

    // The API key from the environment, else the tool's stored, unexpired OAuth token.
    std::string loadCredential() const;
    // $KIMI_CODE_HOME, else ~/.kimi-code.
    std::filesystem::path kimiHome() const;
    static std::filesystem::path kimiHome(const platform::Environment& environment);
    // The tool's stored OAuth session: <kimiHome>/credentials/kimi-code.json.
    static std::filesystem::path credentialsFile(const platform::Environment& environment);
    // Whether an API key is set or the tool's session file is there (expired or not: the tool
    // renews it when it next runs). Reads no file.
    static bool hasStoredSignIn(const platform::Environment& environment);
    // The tool's persistent device id; created (and stored when possible) when missing.
    std::string deviceID() const;

    // Every header that identifies this program and machine, for `version` of the program.
    static Headers identityHeaders(const platform::HostDescription& host, std::string_view version,
                                   const std::string& deviceID);
    // The usages answer as windows, most used first. Throws QuotaError.
    static model::ProviderUsage parseUsage(std::string_view data, platform::Date now);
    // A rate-limit window's length in minutes; nullopt for unknown units and lengths that do
    // not make sense (negative, or beyond what 64 bits of minutes can hold).
    static std::optional<std::int64_t> durationMinutes(std::int64_t duration,
                                                       std::string_view timeUnit);
    static std::optional<platform::Date> parseDate(const std::optional<std::string>& text);
    // Only printable ASCII (U+0020...U+007E) is kept.
    static std::string ascii(std::string_view text);
};

}  // namespace kestrane::providers
