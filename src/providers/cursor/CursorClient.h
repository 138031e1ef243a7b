#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "model/ProviderUsage.h"
#include "platform/Cancellation.h"
#include "platform/Clock.h"
#include "platform/Date.h"
#include "platform/Environment.h"
#include "platform/HttpClient.h"
#include "platform/Json.h"
#include "providers/HttpProviderClient.h"

namespace kestrane::providers {

// Fetches the Cursor billing cycle's usage from the web dashboard with the session the
// Cursor editor keeps in its local state database. The token is read afresh on every fetch
// and never leaves this class except inside the dashboard's cookie.
class CursorClient : public HttpProviderClient<CursorClient> {
  public:
    static constexpr std::string_view originVariable = "KESTRANE_CURSOR_ORIGIN";

    // Time limits of every request (the summary and the account run side by side): connecting
    // or waiting for the next bytes of the answer, and the whole exchange. The whole exchange
    // is the shorter, so it is what ends a stalled request; the fetch's deadline
    // (FetchDeadlines) is counted from it.
    static constexpr std::chrono::seconds requestIdleLimit{60};
    static constexpr std::chrono::seconds requestExchangeLimit{15};

    // `http` defaults to the shared Cursor session (the limits above).
    CursorClient(const platform::Environment& environment, const platform::Clock& clock,
                 const platform::HttpClient* http = nullptr);

    model::ProviderUsage fetch() const;

    // The editor's state database for the user of `environment`.
    static std::filesystem::path stateDatabasePath(const platform::Environment& environment);
    // The stored access token; opens the database read-only and never changes it.
    static std::string readAccessToken(const std::filesystem::path& database);
    // Whether the editor's state database holds a session (expired or not); only reads it.
    static bool hasStoredSignIn(const platform::Environment& environment);

    // Turns the usage summary (and the account's e-mail, when known) into the usage.
    // A summary that is not the expected JSON throws DecodingError.
    static model::ProviderUsage parseSummary(std::string_view summary,
                                             std::optional<std::string> email, platform::Date now);
    // The account's e-mail; nullopt when the answer cannot be read.
    static std::optional<std::string> parseAccountEmail(std::string_view account);

    static std::optional<std::int64_t> durationMinutes(std::optional<platform::Date> start,
                                                       std::optional<platform::Date> end);
    static std::optional<std::string> prettyMembership(const std::optional<std::string>& type);

  private:
    std::string get(std::string_view path, const std::string& cookie,
                    platform::Cancellation* cancellation = nullptr) const;
};

}  // namespace kestrane::providers
