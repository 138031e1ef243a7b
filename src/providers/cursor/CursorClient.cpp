#include "providers/cursor/CursorClient.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <future>
#include <system_error>

#include "model/OutsideText.h"
#include "model/QuotaError.h"
#include "platform/ConfigurationDirectory.h"
#include "platform/Iso8601.h"
#include "platform/TextConversions.h"
#include "providers/cursor/CursorAuth.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::ProviderUsage;
using model::QuotaError;
using platform::Json;

constexpr std::string_view kDefaultOrigin = "https://cursor.com";
// A JSON Web Token is a few kilobytes; a value this large is not one and is never copied.
constexpr int kMaxTokenBytes = 64 * 1024;

const char* const kSessionExpired = "Сессия Cursor истекла. Откройте Cursor и войдите снова.";
const char* const kCannotRead = "Не удалось прочитать локальную сессию Cursor.";
// About a million virtual machine steps: far beyond any lookup, a few milliseconds of work.
constexpr int kProgressInterval = 1000;
constexpr int kMaxProgressCalls = 1000;

struct Plan {
    std::optional<std::int64_t> used;
    std::optional<std::int64_t> limit;
    std::optional<double> autoPercentUsed;
    std::optional<double> apiPercentUsed;
    std::optional<double> totalPercentUsed;
};

struct Money {
    std::optional<std::int64_t> used;
    std::optional<std::int64_t> limit;
};

std::optional<Money> moneyMember(const Json& object, std::string_view key) {
    const Json* money = platform::objectMember(object, key);
    if (!money) return std::nullopt;
    return Money{platform::integerMember(*money, "used"), platform::integerMember(*money, "limit")};
}

double clampedPercent(double value) { return std::clamp(value, 0.0, 100.0); }

double percent(const std::optional<Plan>& plan, double used, double limit) {
    double value = 0;
    if (plan && plan->totalPercentUsed) {
        value = *plan->totalPercentUsed;
    } else if (plan && plan->autoPercentUsed) {
        value = plan->apiPercentUsed ? (*plan->autoPercentUsed + *plan->apiPercentUsed) / 2
                                     : *plan->autoPercentUsed;
    } else if (plan && plan->apiPercentUsed) {
        value = *plan->apiPercentUsed;
    } else if (limit > 0) {
        value = used / limit * 100;
    }
    return clampedPercent(value);
}

// Owns the two SQLite handles so that every way out of the read releases them.
struct Statement {
    sqlite3* database = nullptr;
    sqlite3_stmt* statement = nullptr;
    int guard = -1;
    int progressCalls = 0;
    ~Statement() {
        sqlite3_finalize(statement);
        sqlite3_close(database);
        if (guard >= 0) ::close(guard);
    }
};

// Interrupts the query after kMaxProgressCalls × kProgressInterval virtual machine steps.
int stopRunawayQuery(void* context) {
    int& calls = *static_cast<int*>(context);
    return ++calls > kMaxProgressCalls ? 1 : 0;
}

}  // namespace

CursorClient::CursorClient(const platform::Environment& environment, const platform::Clock& clock,
                           const platform::HttpClient* http)
    : HttpProviderClient(environment, clock, http,
                         platform::resolveOrigin(environment, originVariable, kDefaultOrigin)) {}

std::filesystem::path CursorClient::stateDatabasePath(const platform::Environment& environment) {
    return platform::configurationDirectory(environment) / "Cursor" / "User" / "globalStorage" /
           "state.vscdb";
}

std::string CursorClient::readAccessToken(const std::filesystem::path& database) {
    std::error_code error;
    if (!std::filesystem::exists(database, error)) {
        throw QuotaError::unavailable("Cursor не найден или в нем еще не выполнен вход.");
    }

    // Only a regular file is handed to SQLite: opening a FIFO (or a device) in its place would
    // block the fetch for good. The descriptor, opened without blocking, stays open while
    // SQLite opens the same name, so the check and the open see the same kind of file unless
    // someone swaps it in between.
    const int guard = ::open(database.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info {};
    const bool regular = guard >= 0 && ::fstat(guard, &info) == 0 && S_ISREG(info.st_mode);
    if (!regular) {
        if (guard >= 0) ::close(guard);
        throw QuotaError::unavailable(kCannotRead);
    }

    Statement handles;
    handles.guard = guard;
    // Read-only: the editor owns this file and may be writing it right now.
    if (sqlite3_open_v2(database.c_str(), &handles.database, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        throw QuotaError::unavailable(kCannotRead);
    }
    // A lookup by key takes a few hundred steps; a crafted database (a recursive view in
    // place of the table) would otherwise run for ever.
    sqlite3_progress_handler(handles.database, kProgressInterval, stopRunawayQuery,
                             &handles.progressCalls);
    if (sqlite3_prepare_v2(handles.database, "SELECT value FROM ItemTable WHERE key = ? LIMIT 1;",
                           -1, &handles.statement, nullptr) != SQLITE_OK) {
        throw QuotaError::unavailable("Не удалось подготовить чтение сессии Cursor.");
    }
    sqlite3_bind_text(handles.statement, 1, "cursorAuth/accessToken", -1, SQLITE_TRANSIENT);

    const int step = sqlite3_step(handles.statement);
    if (step == SQLITE_DONE ||
        (step == SQLITE_ROW && sqlite3_column_type(handles.statement, 0) == SQLITE_NULL)) {
        throw QuotaError::unavailable("В Cursor нет активной сессии.");
    }
    if (step != SQLITE_ROW) {
        // Busy, locked or damaged: saying "signed out" here would send the user the wrong way.
        throw QuotaError::unavailable(kCannotRead);
    }
    const auto* text = sqlite3_column_text(handles.statement, 0);
    const int size = sqlite3_column_bytes(handles.statement, 0);
    if (!text && sqlite3_errcode(handles.database) == SQLITE_NOMEM) throw std::bad_alloc();
    if (size > kMaxTokenBytes)
        throw QuotaError::invalidResponse("Не удалось разобрать токен Cursor.");
    if (!text || size == 0) throw QuotaError::unavailable("Сессия Cursor пуста.");
    return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
}

bool CursorClient::hasStoredSignIn(const platform::Environment& environment) {
    try {
        return !readAccessToken(stateDatabasePath(environment)).empty();
    } catch (const std::exception&) {
        return false;
    }
}

model::ProviderUsage CursorClient::fetch() const {
    requireUsableOrigin();

    const CursorAuth auth(readAccessToken(stateDatabasePath(environment_)));
    auth.requireUnexpired(clock_.now());
    const std::string cookie = auth.cookie();

    // The account only adds the e-mail, so it runs beside the summary and may fail alone.
    // Once the summary has failed its answer is not wanted: it is cancelled, not awaited.
    platform::Cancellation accountCancellation;
    std::future<std::string> account;
    try {
        account = std::async(std::launch::async, [this, &cookie, &accountCancellation] {
            return get("/api/auth/me", cookie, &accountCancellation);
        });
    } catch (const std::system_error&) {
        // No thread to spare: go on without the e-mail rather than fail the fetch.
    }
    std::string summary;
    try {
        summary = get("/api/usage-summary", cookie);
    } catch (...) {
        accountCancellation.cancel();
        if (account.valid()) account.wait();
        throw;
    }
    std::optional<std::string> email;
    if (account.valid()) {
        try {
            email = parseAccountEmail(account.get());
        } catch (...) {
            // The account never fails the fetch.
        }
    }
    return parseSummary(summary, std::move(email), clock_.now());
}

std::string CursorClient::get(std::string_view path, const std::string& cookie,
                              platform::Cancellation* cancellation) const {
    if (origin_.origin.empty()) throw QuotaError::invalidResponse("Некорректный адрес Cursor API.");
    platform::HttpRequest request;
    request.url = origin_.origin + std::string(path);
    request.timeout = requestIdleLimit;
    request.headers = {{"Accept", "application/json"}, {"Cookie", cookie}};
    request.cancellation = cancellation;
    auto response = http_.send(request);
    if (!response) throw QuotaError::invalidResponse("Cursor вернул некорректный ответ.");
    switch (response->status) {
        case 200:
            return std::move(response->body);
        case 401:
        case 403:
            throw QuotaError::unavailable(kSessionExpired);
        default:
            throw QuotaError::invalidResponse("Cursor API: HTTP " +
                                              std::to_string(response->status) + ".");
    }
}

std::optional<std::string> CursorClient::parseAccountEmail(std::string_view account) {
    try {
        const Json root = platform::parseJson(account);
        return platform::stringMember(platform::requireObject(root), "email");
    } catch (const platform::DecodingError&) {
        return std::nullopt;
    }
}

model::ProviderUsage CursorClient::parseSummary(std::string_view summary,
                                                std::optional<std::string> email,
                                                platform::Date now) {
    const Json root = platform::parseJson(summary);
    const Json& s = platform::requireObject(root);
    const auto cycleStart = platform::stringMember(s, "billingCycleStart");
    const auto cycleEnd = platform::stringMember(s, "billingCycleEnd");
    const auto membershipType = platform::stringMember(s, "membershipType");

    std::optional<Plan> plan;
    std::optional<Money> onDemand, overall, pooled;
    const Json* individual = platform::objectMember(s, "individualUsage");
    if (individual) {
        if (const Json* p = platform::objectMember(*individual, "plan")) {
            plan = Plan{platform::integerMember(*p, "used"), platform::integerMember(*p, "limit"),
                        platform::numberMember(*p, "autoPercentUsed"),
                        platform::numberMember(*p, "apiPercentUsed"),
                        platform::numberMember(*p, "totalPercentUsed")};
        }
        onDemand = moneyMember(*individual, "onDemand");
        overall = moneyMember(*individual, "overall");
    }
    if (const Json* team = platform::objectMember(s, "teamUsage")) {
        pooled = moneyMember(*team, "pooled");
    }

    const auto parseDate = [](const std::optional<std::string>& text) {
        return text ? platform::parseInternetDateTime(*text) : std::nullopt;
    };
    const auto start = parseDate(cycleStart);
    const auto end = parseDate(cycleEnd);
    const auto minutes = durationMinutes(start, end);

    // The fallback counters; on-demand money is beyond the plan and never counts here.
    const double used = [&] {
        if (plan && plan->used) return static_cast<double>(*plan->used);
        if (overall && overall->used) return static_cast<double>(*overall->used);
        if (pooled && pooled->used) return static_cast<double>(*pooled->used);
        return 0.0;
    }();
    const double limit = [&] {
        if (plan && plan->limit) return static_cast<double>(*plan->limit);
        if (overall && overall->limit) return static_cast<double>(*overall->limit);
        if (pooled && pooled->limit) return static_cast<double>(*pooled->limit);
        return 0.0;
    }();

    ProviderUsage usage{.provider = model::ProviderKind::cursor,
                        .email = std::move(email),
                        .plan = prettyMembership(membershipType),
                        .updatedAt = now};
    usage.windows.push_back({"cursor-total", "Всего", percent(plan, used, limit), minutes, end});
    if (plan && plan->autoPercentUsed) {
        usage.windows.push_back({"cursor-auto", "Auto + Composer",
                                 clampedPercent(*plan->autoPercentUsed), minutes, end});
    }
    if (plan && plan->apiPercentUsed) {
        usage.windows.push_back({"cursor-api", "Named models / API",
                                 clampedPercent(*plan->apiPercentUsed), minutes, end});
    }
    if (onDemand) {
        if (onDemand->used) usage.spendUsed = static_cast<double>(*onDemand->used) / 100;
        if (onDemand->limit) usage.spendLimit = static_cast<double>(*onDemand->limit) / 100;
        if (usage.spendUsed || usage.spendLimit) usage.currency = "USD";
    }
    return model::sanitized(std::move(usage));
}

std::optional<std::int64_t> CursorClient::durationMinutes(std::optional<platform::Date> start,
                                                          std::optional<platform::Date> end) {
    if (!start || !end) return std::nullopt;
    const double minutes = std::trunc((*end - *start) / 60);
    return static_cast<std::int64_t>(std::max(minutes, 0.0));
}

std::optional<std::string> CursorClient::prettyMembership(const std::optional<std::string>& type) {
    if (!type || type->empty()) return std::nullopt;
    return "Cursor " + platform::capitalisedWords(*type);
}

}  // namespace kestrane::providers
