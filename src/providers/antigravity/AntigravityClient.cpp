#include "providers/antigravity/AntigravityClient.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>

#include "model/OutsideText.h"
#include "model/QuotaError.h"
#include "platform/ConfigurationDirectory.h"
#include "platform/Environment.h"
#include "platform/HttpClient.h"
#include "platform/Iso8601.h"
#include "platform/TextConversions.h"
#include "platform/UnicodeText.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::ProviderUsage;
using model::QuotaError;
using platform::Json;

const char* const kNotRunning = "Откройте Antigravity, чтобы получить квоты.";
const char* const kNothingAnswered =
    "Antigravity не вернул квоты. Проверьте вход в аккаунт и повторите.";
const char* const kUnparsable = "Не удалось разобрать квоты Antigravity.";
const char* const kNoActiveWindows = "Antigravity не вернул активные лимиты.";

// The member `key` of an object; nullptr when absent or null (or `object` is no object).
const Json* member(const Json* object, std::string_view key) {
    if (!object || !object->is_object()) return nullptr;
    const auto it = object->find(key);
    if (it == object->end() || it->is_null()) return nullptr;
    return &*it;
}

const Json* objectMember(const Json* object, std::string_view key) {
    const Json* value = member(object, key);
    return value && value->is_object() ? value : nullptr;
}

// An array whose every element is an object, else nullptr.
const Json* objectArrayMember(const Json* object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value || !value->is_array()) return nullptr;
    const bool allObjects =
        std::all_of(value->begin(), value->end(), [](const Json& e) { return e.is_object(); });
    return allObjects ? value : nullptr;
}

// A number, or a string holding exactly a decimal number.
std::optional<double> doubleValue(const Json* value) {
    if (!value) return std::nullopt;
    if (value->is_number()) {
        const double number = value->get<double>();
        return std::isfinite(number) ? std::optional(number) : std::nullopt;
    }
    if (value->is_string())
        return platform::parseDecimalNumber(value->get_ref<const std::string&>());
    return std::nullopt;
}

// A string with surrounding white space removed; nothing when that leaves nothing.
std::optional<std::string> stringValue(const Json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    std::string trimmed = platform::trimmedWhitespace(value->get_ref<const std::string&>());
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

bool isTrue(const Json* value) {
    if (!value) return false;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_number()) return value->get<double>() != 0;
    if (value->is_string()) {
        const std::string lower = platform::lowercased(value->get_ref<const std::string&>());
        return lower == "true" || lower == "1";
    }
    return false;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

double usedPercent(double remainingFraction) {
    return std::clamp((1 - remainingFraction) * 100, 0.0, 100.0);
}

double remainingPercent(const LimitWindow& window) {
    return std::clamp(100 - window.usedPercent, 0.0, 100.0);
}

Json metadataBody() {
    return Json{{"metadata",
                 {{"ideName", "antigravity"},
                  {"extensionName", "antigravity"},
                  {"ideVersion", "unknown"},
                  {"locale", "en"}}}};
}

ProviderUsage usage(std::vector<LimitWindow> windows, const std::optional<AntigravityIdentity>& who,
                    platform::Date now) {
    std::stable_sort(windows.begin(), windows.end(), AntigravityClient::windowOrder);
    ProviderUsage result{.provider = model::ProviderKind::antigravity,
                         .windows = std::move(windows),
                         .updatedAt = now};
    if (who) {
        result.email = who->email;
        result.plan = who->plan;
    }
    return model::sanitized(std::move(result));
}

// The top level of an answer: a JSON object with an acceptable code.
Json parseAnswer(std::string_view data) {
    Json root = platform::parseJson(data);
    if (!root.is_object()) throw QuotaError::invalidResponse(kUnparsable);
    AntigravityClient::validateCode(root);
    return root;
}

}  // namespace

std::filesystem::path AntigravityClient::stateDirectory(const platform::Environment& environment) {
    return platform::configurationDirectory(environment) / "Antigravity";
}

bool AntigravityClient::hasStoredSignIn(const platform::Environment& environment) {
    std::error_code error;
    return std::filesystem::is_directory(stateDirectory(environment), error);
}

AntigravityClient::AntigravityClient(const platform::Clock& clock)
    : AntigravityClient(clock, Options{}) {}

AntigravityClient::AntigravityClient(const platform::Clock& clock, Options options)
    : clock_(clock), options_(std::move(options)) {
    if (!options_.runningProcesses)
        options_.runningProcesses = &AntigravityClient::runningProcesses;
    if (!options_.listeningPorts) options_.listeningPorts = &AntigravityClient::listeningPorts;
}

model::ProviderUsage AntigravityClient::fetch() const {
    const auto processes = options_.runningProcesses();
    if (processes.empty()) throw QuotaError::unavailable(kNotRunning);
    for (const auto& process : processes) {
        for (const auto& endpoint : endpoints(process, options_.listeningPorts(process.pid))) {
            try {
                return fetchUsage(endpoint);
            } catch (const std::exception&) {
                // This endpoint cannot tell; the next one may.
            }
        }
    }
    throw QuotaError::unavailable(kNothingAnswered);
}

model::ProviderUsage AntigravityClient::fetchUsage(const Endpoint& endpoint) const {
    // Newer servers keep per-bucket quotas; older ones only per-model figures, first in the
    // user status and last in the model configurations.
    try {
        const std::string summary = request(endpoint, summaryPath, Json{{"forceRefresh", true}});
        std::optional<std::string> status;
        try {
            status = request(endpoint, userStatusPath, metadataBody());
        } catch (const std::exception&) {
            // The account details are a bonus; the quota stands without them.
        }
        return parseQuotaSummary(summary, status, clock_.now());
    } catch (const std::exception&) {
    }
    try {
        return parseLegacyUsage(request(endpoint, userStatusPath, metadataBody()), clock_.now());
    } catch (const std::exception&) {
    }
    return parseLegacyUsage(request(endpoint, modelConfigsPath, metadataBody()), clock_.now());
}

std::string AntigravityClient::request(const Endpoint& endpoint, std::string_view path,
                                       const platform::Json& body) const {
    if ((endpoint.scheme != "https" && endpoint.scheme != "http") || endpoint.port < 1 ||
        endpoint.port > 65535) {
        throw QuotaError::invalidResponse("Некорректный локальный адрес Antigravity.");
    }
    platform::HttpRequest request;
    request.method = "POST";
    request.url =
        endpoint.scheme + "://127.0.0.1:" + std::to_string(endpoint.port) + std::string(path);
    request.headers = {{"Content-Type", "application/json"}, {"Connect-Protocol-Version", "1"}};
    if (!endpoint.csrfToken.empty()) {
        request.headers.emplace_back("X-Codeium-Csrf-Token", endpoint.csrfToken);
    }
    request.body = body.dump();
    request.timeout = options_.requestLimit;
    // The server presents a certificate it made for itself.
    request.trustLoopbackCertificate = true;

    // A session of its own per call: nothing of one exchange outlives it.
    const platform::CurlHttpClient session(
        platform::HttpSessionLimits{options_.requestLimit, options_.requestLimit});
    const auto response = session.send(request);
    if (!response || response->status != 200) {
        throw QuotaError::invalidResponse("Локальный сервер Antigravity отклонил запрос.");
    }
    return response->body;
}

void AntigravityClient::validateCode(const platform::Json& object) {
    const Json* code = member(&object, "code");
    if (!code) return;
    if (const auto number = doubleValue(code); number && *number == 0) return;
    if (const auto text = stringValue(code)) {
        const std::string lower = platform::lowercased(*text);
        if (lower == "ok" || lower == "success" || lower == "0") return;
    }
    throw QuotaError::invalidResponse("Antigravity отклонил запрос квоты.");
}

model::ProviderUsage AntigravityClient::parseQuotaSummary(
    std::string_view data, const std::optional<std::string>& identityData, platform::Date now) {
    const Json root = parseAnswer(data);
    const Json* container = objectMember(&root, "response");
    if (!container) container = objectMember(&root, "summary");
    if (!container) container = &root;
    const Json* groups = objectArrayMember(container, "groups");
    if (!groups) throw QuotaError::invalidResponse("Antigravity не вернул группы лимитов.");

    std::vector<LimitWindow> windows;
    std::set<std::string> usedIds;
    for (const Json& group : *groups) {
        std::string label = stringValue(member(&group, "displayName")).value_or("Лимит");
        const std::string lowerLabel = platform::lowercased(label);
        if (contains(lowerLabel, "gemini")) {
            label = "Gemini";
        } else if (contains(lowerLabel, "claude") || contains(lowerLabel, "gpt")) {
            label = "Claude + GPT";
        }
        const Json* buckets = objectArrayMember(&group, "buckets");
        if (!buckets) continue;
        for (std::size_t index = 0; index < buckets->size(); ++index) {
            const Json& bucket = (*buckets)[index];
            if (isTrue(member(&bucket, "disabled"))) continue;
            const Json* remaining = objectMember(&bucket, "remaining");
            auto fraction = doubleValue(member(&bucket, "remainingFraction"));
            if (!fraction) fraction = doubleValue(member(remaining, "remainingFraction"));
            if (!fraction) fraction = doubleValue(member(remaining, "value"));
            if (!fraction) continue;

            // A bucket without an id is named by its place, so that its history carries on
            // from one fetch to the next.
            const std::string bucketID = stringValue(member(&bucket, "bucketId"))
                                             .value_or("bucket-" + std::to_string(index + 1));
            const std::string bucketName =
                stringValue(member(&bucket, "displayName")).value_or(bucketID);
            const auto minutes = durationMinutes(bucketID, bucketName);

            // Two groups may fold into the same label; their windows must stay apart.
            const std::string baseId = "antigravity-" + slug(label) + "-" + slug(bucketID);
            std::string id = baseId;
            for (int n = 2; usedIds.count(id); ++n) id = baseId + "-" + std::to_string(n);
            usedIds.insert(id);

            windows.push_back(LimitWindow{
                .id = std::move(id),
                .name = minutes ? label : label + " " + bucketName,
                .usedPercent = usedPercent(*fraction),
                .durationMinutes = minutes,
                .resetsAt = parseDate(stringValue(member(&bucket, "resetTime"))),
            });
        }
    }
    if (windows.empty()) throw QuotaError::invalidResponse(kNoActiveWindows);
    return usage(std::move(windows), identityData ? identity(*identityData) : std::nullopt, now);
}

model::ProviderUsage AntigravityClient::parseLegacyUsage(std::string_view data,
                                                         platform::Date now) {
    const Json root = parseAnswer(data);
    const Json* container =
        objectMember(objectMember(&root, "userStatus"), "cascadeModelConfigData");
    if (!container) container = &root;
    const Json* configs = objectArrayMember(container, "clientModelConfigs");
    if (!configs) throw QuotaError::invalidResponse("Antigravity не вернул модельные лимиты.");

    // One window per family, the one with the least left.
    std::vector<LimitWindow> windows;
    for (std::size_t n = 0; n < configs->size(); ++n) {
        const Json& entry = (*configs)[n];
        auto model = stringValue(member(objectMember(&entry, "modelOrAlias"), "model"));
        if (!model) model = stringValue(member(&entry, "label"));
        const std::string m = platform::lowercased(model.value_or("model-" + std::to_string(n)));
        if (contains(m, "image") || contains(m, "autocomplete") || contains(m, "lite")) continue;
        const Json* quotaInfo = objectMember(&entry, "quotaInfo");
        const auto fraction = doubleValue(member(quotaInfo, "remainingFraction"));
        if (!fraction) continue;
        std::string family;
        if (contains(m, "gemini")) {
            family = "Gemini";
        } else if (contains(m, "claude") || contains(m, "gpt")) {
            family = "Claude + GPT";
        } else {
            continue;
        }
        LimitWindow candidate{
            .id = "antigravity-" + slug(family),
            .name = family,
            .usedPercent = usedPercent(*fraction),
            .durationMinutes = 300,
            .resetsAt = parseDate(stringValue(member(quotaInfo, "resetTime"))),
        };
        const auto stored = std::find_if(windows.begin(), windows.end(),
                                         [&](const auto& w) { return w.id == candidate.id; });
        if (stored == windows.end()) {
            windows.push_back(std::move(candidate));
        } else if (remainingPercent(candidate) < remainingPercent(*stored)) {
            *stored = std::move(candidate);
        }
    }
    if (windows.empty()) throw QuotaError::invalidResponse(kNoActiveWindows);
    return usage(std::move(windows), identity(data), now);
}

std::optional<AntigravityIdentity> AntigravityClient::identity(std::string_view data) {
    Json root;
    try {
        root = platform::parseJson(data);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const Json* status = objectMember(&root, "userStatus");
    if (!status) return std::nullopt;
    AntigravityIdentity who{.email = stringValue(member(status, "email"))};
    const Json* planInfo = objectMember(objectMember(status, "planStatus"), "planInfo");
    who.plan = stringValue(member(objectMember(status, "userTier"), "name"));
    for (const char* key :
         {"planDisplayName", "displayName", "productName", "planName", "planShortName"}) {
        if (who.plan) break;
        who.plan = stringValue(member(planInfo, key));
    }
    return who;
}

std::optional<std::int64_t> AntigravityClient::durationMinutes(std::string_view bucketID,
                                                               std::string_view displayName) {
    const std::string t =
        platform::lowercased(std::string(bucketID) + " " + std::string(displayName));
    if (contains(t, "weekly") || contains(t, "week") || contains(t, "7d")) return 10080;
    if (contains(t, "five") || contains(t, "5h") || contains(t, "5-hour") ||
        contains(t, "session")) {
        return 300;
    }
    return std::nullopt;
}

std::string AntigravityClient::slug(std::string_view text) { return platform::slugged(text); }

bool AntigravityClient::windowOrder(const model::LimitWindow& a, const model::LimitWindow& b) {
    const double left = remainingPercent(a);
    const double right = remainingPercent(b);
    if (left != right) return left < right;
    if (a.durationMinutes.has_value() != b.durationMinutes.has_value()) {
        return a.durationMinutes.has_value();
    }
    return a.durationMinutes && *a.durationMinutes < *b.durationMinutes;
}

std::optional<platform::Date> AntigravityClient::parseDate(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    if (const auto date = platform::parseInternetDateTime(*text)) return date;
    if (const auto seconds = platform::parseDecimalNumber(*text)) return platform::Date{*seconds};
    return std::nullopt;
}

}  // namespace kestrane::providers
