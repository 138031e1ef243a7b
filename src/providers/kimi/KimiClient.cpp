#include "providers/kimi/KimiClient.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <random>

#include "model/OutsideText.h"
#include "model/QuotaError.h"
#include "platform/Files.h"
#include "platform/Iso8601.h"
#include "platform/Json.h"
#include "platform/TextConversions.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::ProviderUsage;
using model::QuotaError;
using platform::Json;

constexpr std::string_view kDefaultOrigin = "https://api.kimi.com";
// The credential and device id files are tiny; anything this large is not one of them.
constexpr std::size_t kMaxCredentialFileBytes = 1024 * 1024;
constexpr std::size_t kMaxDeviceIdFileBytes = 64 * 1024;
// Above this an expiry is in milliseconds, not seconds (10^10 s is the year 2286).
constexpr double kMillisecondsThreshold = 10'000'000'000.0;

const char* const kNotSignedIn = "Kimi Code не авторизован. Войдите в Kimi Code CLI.";
const char* const kSessionExpired = "Сессия Kimi Code истекла. Войдите в Kimi Code CLI снова.";

// The credential goes into a header line; a line break inside it would add headers.
bool isHeaderSafe(std::string_view text) { return platform::isPrintableAscii(text); }

// A member read as text: strings as they are, numbers as their decimal text.
std::optional<std::string> textMember(const Json& object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    if (it->is_string()) return it->get<std::string>();
    if (it->is_number_integer()) return std::to_string(it->get<std::int64_t>());
    if (it->is_number_unsigned()) return std::to_string(it->get<std::uint64_t>());
    if (it->is_number_float()) return it->dump();
    return std::nullopt;
}

struct UsageDetail {
    std::string limit;
    std::optional<std::string> used;
    std::optional<std::string> remaining;
    std::optional<std::string> resetTime;
};

UsageDetail decodeDetail(const Json& value) {
    const Json& object = platform::requireObject(value);
    auto limit = textMember(object, "limit");
    if (!limit) throw platform::DecodingError();  // Missing limit
    UsageDetail detail{.limit = std::move(*limit),
                       .used = textMember(object, "used"),
                       .remaining = textMember(object, "remaining")};
    for (const auto key : {"resetTime", "resetAt", "reset_time", "reset_at"}) {
        if ((detail.resetTime = textMember(object, key))) break;
    }
    return detail;
}

// The share used, when the detail has a positive limit and either `used` or `remaining`.
std::optional<double> usedPercent(const UsageDetail& detail) {
    const auto limit = platform::parseDecimalNumber(detail.limit);
    if (!limit || *limit <= 0) return std::nullopt;
    std::optional<double> used;
    if (detail.used) used = platform::parseDecimalNumber(*detail.used);
    if (!used && detail.remaining) {
        if (const auto remaining = platform::parseDecimalNumber(*detail.remaining)) {
            used = std::max(*limit - *remaining, 0.0);
        }
    }
    if (!used) return std::nullopt;
    return std::clamp(*used / *limit * 100, 0.0, 100.0);
}

double remainingPercent(const LimitWindow& window) {
    return std::clamp(100 - window.usedPercent, 0.0, 100.0);
}

std::string newDeviceID() {
    std::random_device source;
    unsigned char bytes[16];
    for (std::size_t i = 0; i < sizeof bytes; i += 4) {
        const auto word = source();
        for (std::size_t j = 0; j < 4; ++j)
            bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4: random
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static constexpr char hex[] = "0123456789abcdef";
    std::string id;
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
        id += hex[bytes[i] >> 4];
        id += hex[bytes[i] & 0x0F];
    }
    return id;
}

// Creates `directory` and any missing parents, each new one private to the user.
bool createPrivateDirectories(const std::filesystem::path& directory) {
    std::filesystem::path partial;
    for (const auto& component : directory) {
        partial /= component;
        if (partial == partial.root_path()) continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    std::error_code error;
    return std::filesystem::is_directory(directory, error);
}

// A key that loadCredential takes: set, and not blank once trimmed.
std::optional<std::string> apiKey(const platform::Environment& environment) {
    const auto key = environment.value(KimiClient::apiKeyVariable);
    if (!key) return std::nullopt;
    std::string trimmed = platform::trimmedWhitespace(*key);
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

}  // namespace

KimiClient::KimiClient(const platform::Environment& environment, const platform::Clock& clock,
                       const platform::HttpClient* http)
    : HttpProviderClient(environment, clock, http,
                         platform::resolveOrigin(environment, originVariable, kDefaultOrigin)) {}

model::ProviderUsage KimiClient::fetch() const {
    requireUsableOrigin();
    const std::string credential = loadCredential();

    platform::HttpRequest request;
    request.url = origin_.origin + "/coding/v1/usages";
    request.timeout = requestIdleLimit;
    request.headers = {{"Authorization", "Bearer " + credential}, {"Accept", "application/json"}};
    for (auto& header : identityHeaders(platform::currentHost(), KESTRANE_VERSION, deviceID())) {
        request.headers.push_back(std::move(header));
    }

    const auto response = http_.send(request);
    if (!response) throw QuotaError::invalidResponse("Kimi вернул некорректный ответ.");
    switch (response->status) {
        case 200:
            return parseUsage(response->body, clock_.now());
        case 429:
            throw QuotaError::unavailable(
                "Kimi временно ограничил проверку квот. Повторите позже.");
        case 403:
            throw QuotaError::unavailable("Kimi Code не разрешил чтение квоты для этого аккаунта.");
        case 401:
            throw QuotaError::unavailable(kSessionExpired);
        default:
            throw QuotaError::invalidResponse("Kimi API: HTTP " + std::to_string(response->status) +
                                              ".");
    }
}

std::filesystem::path KimiClient::kimiHome() const { return kimiHome(environment_); }

std::filesystem::path KimiClient::kimiHome(const platform::Environment& environment) {
    if (const auto configured = environment.value(homeVariable)) {
        const std::string trimmed = platform::trimmedWhitespace(*configured);
        if (!trimmed.empty()) return trimmed;
    }
    return environment.homeDirectory() / ".kimi-code";
}

std::filesystem::path KimiClient::credentialsFile(const platform::Environment& environment) {
    return kimiHome(environment) / "credentials" / "kimi-code.json";
}

bool KimiClient::hasStoredSignIn(const platform::Environment& environment) {
    if (apiKey(environment)) return true;
    std::error_code error;
    return std::filesystem::is_regular_file(credentialsFile(environment), error);
}

std::string KimiClient::loadCredential() const {
    if (auto key = apiKey(environment_)) {
        if (!isHeaderSafe(*key)) throw QuotaError::unavailable(kNotSignedIn);
        return std::move(*key);
    }

    const auto data = platform::readFile(credentialsFile(environment_), kMaxCredentialFileBytes);
    if (!data) throw QuotaError::unavailable(kNotSignedIn);
    std::string token;
    std::optional<double> expiresAt;
    try {
        const Json root = platform::parseJson(*data);
        const Json& file = platform::requireObject(root);
        token =
            platform::trimmedWhitespace(platform::stringMember(file, "access_token").value_or(""));
        if (const auto it = file.find("expires_at"); it != file.end()) {
            if (it->is_number()) expiresAt = it->get<double>();
            if (it->is_string())
                expiresAt = platform::parseDecimalNumber(it->get_ref<const std::string&>());
        }
    } catch (const platform::DecodingError&) {
        throw QuotaError::unavailable(kNotSignedIn);
    }
    if (token.empty() || !isHeaderSafe(token)) throw QuotaError::unavailable(kNotSignedIn);

    if (expiresAt) {
        const double seconds = *expiresAt > kMillisecondsThreshold ? *expiresAt / 1000 : *expiresAt;
        if (seconds - clock_.now().secondsSince1970 <= 60) {
            throw QuotaError::unavailable(kSessionExpired);
        }
    }
    return token;
}

std::string KimiClient::deviceID() const {
    const auto home = kimiHome();
    const auto file = home / "device_id";
    const auto data = platform::readFile(file, kMaxDeviceIdFileBytes);
    const bool readable = data.has_value();
    if (data) {
        // Only printable ASCII: the id travels in a header line.
        const std::string id = ascii(platform::trimmedWhitespace(*data));
        if (!id.empty()) return id;
    }

    const std::string id = newDeviceID();
    // The file belongs to the Kimi tool as well. One that exists but cannot be read (its
    // permissions, a folder in its place) is left alone: the new id serves this fetch only.
    struct stat info {};
    if (::lstat(file.c_str(), &info) == 0 && !(S_ISREG(info.st_mode) && readable)) return id;
    // Storing is best effort: without it the service just sees a new device next time.
    if (createPrivateDirectories(home) &&
        platform::writeFileAtomically(
            file, id, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write) ==
            0) {
        std::error_code ignored;
        std::filesystem::permissions(
            file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
            ignored);
    }
    return id;
}

KimiClient::Headers KimiClient::identityHeaders(const platform::HostDescription& host,
                                                std::string_view version,
                                                const std::string& deviceID) {
    const auto orUnknown = [](std::string text) {
        return text.empty() ? std::string("unknown") : text;
    };
    const std::string v = orUnknown(ascii(version));
    const std::string os = ascii(host.operatingSystemVersion);
    return {
        {"User-Agent", "Kestrane/" + v},
        {"X-Msh-Platform", "kimi_code_cli"},
        {"X-Msh-Version", v},
        {"X-Msh-Device-Name", orUnknown(ascii(host.hostName))},
        {"X-Msh-Device-Model", ascii(host.deviceModel)},
        {"X-Msh-Os-Version", os},
        {"X-Msh-Device-Id", ascii(deviceID)},
    };
}

model::ProviderUsage KimiClient::parseUsage(std::string_view data, platform::Date now) {
    struct RateLimit {
        std::int64_t duration;
        std::string timeUnit;
        UsageDetail detail;
    };
    UsageDetail weekly;
    std::vector<RateLimit> limits;
    try {
        const Json root = platform::parseJson(data);
        const Json& response = platform::requireObject(root);
        const Json* usage = platform::objectMember(response, "usage");
        if (!usage) throw platform::DecodingError();
        weekly = decodeDetail(*usage);
        if (const Json* list = platform::arrayMember(response, "limits")) {
            for (const Json& element : *list) {
                const Json& limit = platform::requireObject(element);
                const Json* window = platform::objectMember(limit, "window");
                const Json* detail = platform::objectMember(limit, "detail");
                if (!window || !detail) throw platform::DecodingError();
                const auto duration = platform::integerMember(*window, "duration");
                const auto timeUnit = platform::stringMember(*window, "timeUnit");
                if (!duration || !timeUnit) throw platform::DecodingError();
                limits.push_back({*duration, *timeUnit, decodeDetail(*detail)});
            }
        }
    } catch (const platform::DecodingError&) {
        throw QuotaError::invalidResponse("Не удалось разобрать квоты Kimi.");
    }

    std::vector<LimitWindow> windows;
    if (const auto percent = usedPercent(weekly)) {
        windows.push_back(
            {"kimi-week", "Все запросы", *percent, 10080, parseDate(weekly.resetTime)});
    }
    for (std::size_t n = 0; n < limits.size(); ++n) {
        const auto& limit = limits[n];
        const auto minutes = durationMinutes(limit.duration, limit.timeUnit);
        const auto percent = usedPercent(limit.detail);
        if (!percent) continue;
        windows.push_back(
            {"kimi-rate-" + std::to_string(n) + "-" + std::to_string(minutes.value_or(0)), "Лимит",
             *percent, minutes, parseDate(limit.detail.resetTime)});
    }
    if (windows.empty()) throw QuotaError::invalidResponse("Kimi не вернул активные лимиты.");

    // Closest to running out first; among equals the shorter window, unknown lengths last.
    std::stable_sort(windows.begin(), windows.end(), [](const auto& a, const auto& b) {
        if (remainingPercent(a) != remainingPercent(b)) {
            return remainingPercent(a) < remainingPercent(b);
        }
        if (a.durationMinutes && b.durationMinutes) return *a.durationMinutes < *b.durationMinutes;
        return a.durationMinutes.has_value() && !b.durationMinutes.has_value();
    });
    return model::sanitized(ProviderUsage{
        .provider = model::ProviderKind::kimi, .windows = std::move(windows), .updatedAt = now});
}

std::optional<std::int64_t> KimiClient::durationMinutes(std::int64_t duration,
                                                        std::string_view timeUnit) {
    // A negative length is no window length at all.
    if (duration < 0) return std::nullopt;
    const std::string unit = platform::asciiUppercased(timeUnit);
    std::int64_t minutes = 0;
    if (unit.find("MINUTE") != std::string::npos) return duration;
    if (unit.find("HOUR") != std::string::npos) {
        if (__builtin_mul_overflow(duration, std::int64_t{60}, &minutes)) return std::nullopt;
        return minutes;
    }
    if (unit.find("DAY") != std::string::npos) {
        if (__builtin_mul_overflow(duration, std::int64_t{1440}, &minutes)) return std::nullopt;
        return minutes;
    }
    if (unit.find("SECOND") != std::string::npos) return duration < 60 ? 1 : duration / 60;
    return std::nullopt;
}

std::optional<platform::Date> KimiClient::parseDate(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    return platform::parseInternetDateTime(*text);
}

std::string KimiClient::ascii(std::string_view text) {
    std::string kept;
    std::copy_if(text.begin(), text.end(), std::back_inserter(kept),
                 [](char c) { return c >= 0x20 && c <= 0x7E; });
    return kept;
}
}  // namespace kestrane::providers
