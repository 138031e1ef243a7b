#include "app/cli/ProbeJson.h"

#include <algorithm>
#include <cmath>

#include "app/cli/ProbeRunner.h"
#include "platform/Iso8601.h"
#include "platform/Json.h"

namespace kestrane::app::ProbeJson {
namespace {

using platform::Json;

// Clients keep shares within 0...100; a value that is not a number is written as 0, as the
// text form prints it.
double share(double percent) { return std::isfinite(percent) ? percent : 0; }

template <typename T>
Json optionalValue(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json optionalDate(const std::optional<platform::Date>& date) {
    return date ? Json(platform::formatInternetDateTime(*date)) : Json(nullptr);
}

Json usageValue(const model::ProviderUsage& usage) {
    Json windows = Json::array();
    for (const model::LimitWindow& window : usage.windows) {
        const double used = share(window.usedPercent);
        windows.push_back({{"id", window.id},
                           {"name", window.name},
                           {"title", window.periodTitle()},
                           {"usedPercent", used},
                           {"remainingPercent", std::clamp(100 - used, 0.0, 100.0)},
                           {"durationMinutes", optionalValue(window.durationMinutes)},
                           {"resetsAt", optionalDate(window.resetsAt)}});
    }
    Json spending = nullptr;
    if (usage.spendUsed || usage.spendLimit) {
        spending = {{"used", optionalValue(usage.spendUsed)},
                    {"limit", optionalValue(usage.spendLimit)},
                    {"currency", optionalValue(usage.currency)}};
    }
    Json models = Json::array();
    for (const model::RecentModelContext& context : usage.recentModels) {
        models.push_back({{"model", context.model},
                          {"sessionCount", context.sessionCount},
                          {"lastSeenAt", platform::formatInternetDateTime(context.lastSeenAt)}});
    }
    return {{"email", optionalValue(usage.email)},
            {"plan", optionalValue(usage.plan)},
            {"updatedAt", platform::formatInternetDateTime(usage.updatedAt)},
            {"windows", windows},
            {"spending", spending},
            {"recentModels", models}};
}

}  // namespace

std::string document(const std::vector<model::FetchResult>& results) {
    Json providers = Json::array();
    for (const model::FetchResult& result : results) {
        if (result.isSuccess()) {
            providers.push_back({{"provider", model::rawValue(result.usage().provider)},
                                 {"ok", true},
                                 {"usage", usageValue(result.usage())}});
        } else {
            providers.push_back({{"provider", model::rawValue(result.failureValue().provider)},
                                 {"ok", false},
                                 {"error", result.failureValue().message}});
        }
    }
    const Json root = {{"version", 1}, {"providers", providers}};
    return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

int run(const std::vector<std::string>& arguments, const Fetch& fetch, std::ostream& out,
        const FetchDeadline& deadline, const ProbeRunner::ProbedByDefault& probedByDefault) {
    const auto results = providers::fetchConcurrently(
        fetch,
        providers::defaultAccounts(ProbeRunner::requestedProviders(arguments, probedByDefault)),
        deadline);
    out << document(results);
    const bool anyFailure = std::any_of(results.begin(), results.end(),
                                        [](const auto& result) { return !result.isSuccess(); });
    return anyFailure ? 1 : 0;
}

}  // namespace kestrane::app::ProbeJson
