#include "providers/gemini/GeminiClient.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

#include "model/OutsideText.h"
#include "model/QuotaError.h"
#include "platform/Base64.h"
#include "platform/Files.h"
#include "platform/Iso8601.h"
#include "platform/Json.h"
#include "platform/TextConversions.h"

namespace kestrane::providers {
namespace {

namespace fs = std::filesystem;
using model::LimitWindow;
using model::ProviderUsage;
using model::QuotaError;
using platform::Json;

constexpr std::string_view kDefaultOrigin = "https://cloudcode-pa.googleapis.com";
constexpr std::string_view kDefaultAuthOrigin = "https://oauth2.googleapis.com";
// The Gemini CLI's own OAuth client, an installed application: Google treats the secret of
// such a client as public, and the CLI publishes both in its source.
constexpr std::string_view kClientID =
    "681255809395-oo8ft2oprdrnp9e3aqf6av3hmdib135j.apps.googleusercontent.com";
constexpr std::string_view kClientSecret = "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";
// Settings and credential files are a few kilobytes; anything this large is not one.
constexpr std::size_t kMaxFileBytes = 1024 * 1024;
constexpr std::size_t kMaxTokenBytes = 16 * 1024;
// A token this close to its expiry would lapse on the way; it is renewed first.
constexpr double kExpiryMarginSeconds = 60;
// The quotas renew every day.
constexpr std::int64_t kDayMinutes = 1440;

const char* const kNotSignedIn =
    "Gemini CLI не авторизован. Запустите `gemini` и войдите через Google.";
const char* const kSessionExpired =
    "Сессия Gemini CLI истекла. Запустите `gemini`, чтобы войти снова.";
const char* const kUnreadable = "Не удалось разобрать квоты Gemini.";
const char* const kUnusable = "Gemini вернул некорректный ответ.";

// The token goes into a header line: only visible ASCII, so nothing can add a header.
bool isToken(std::string_view text) { return platform::isVisibleAsciiToken(text, kMaxTokenBytes); }

std::string lowercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// settings.json may carry // and /* */ comments; they become spaces, strings stay as they are.
std::string withoutComments(std::string_view text) {
    std::string result(text);
    bool inString = false;
    for (std::size_t i = 0; i < result.size(); ++i) {
        const char c = result[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '/' && i + 1 < result.size() && result[i + 1] == '/') {
            while (i < result.size() && result[i] != '\n') result[i++] = ' ';
        } else if (c == '/' && i + 1 < result.size() && result[i + 1] == '*') {
            const auto close = result.find("*/", i + 2);
            const std::size_t end = close == std::string::npos ? result.size() : close + 2;
            for (; i < end; ++i) {
                if (result[i] != '\n') result[i] = ' ';
            }
            --i;
        }
    }
    return result;
}

// A member that another tool wrote: its text when it is text, else nothing.
std::optional<std::string> lenientString(const Json& object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::optional<std::string> configuredProject(const platform::Environment& environment) {
    for (const char* name : {"GOOGLE_CLOUD_PROJECT", "GOOGLE_CLOUD_PROJECT_ID"}) {
        if (const auto value = environment.value(name)) {
            std::string trimmed = platform::trimmedWhitespace(*value);
            if (!trimmed.empty()) return trimmed;
        }
    }
    return std::nullopt;
}

// The answer of a Code Assist call, or the Russian reason why there is none.
const std::string& checkedBody(const std::optional<platform::HttpResponse>& response) {
    if (!response) throw QuotaError::invalidResponse(kUnusable);
    switch (response->status) {
        case 200:
            return response->body;
        case 401:
            throw QuotaError::unavailable(kSessionExpired);
        case 403:
            throw QuotaError::unavailable(
                "У этого аккаунта Google нет доступа к Gemini Code Assist.");
        case 429:
            throw QuotaError::unavailable(
                "Google временно ограничил проверку квот Gemini. Повторите позже.");
        default:
            throw QuotaError::invalidResponse("Gemini API: HTTP " +
                                              std::to_string(response->status) + ".");
    }
}

struct Family {
    int rank;
    std::string id;
    std::string name;
};

Family familyOf(const std::string& modelID) {
    const std::string model = lowercased(modelID);
    if (model.find("flash-lite") != std::string::npos ||
        model.find("flash_lite") != std::string::npos ||
        model.find("flashlite") != std::string::npos) {
        return {2, "gemini-flash-lite", "Flash Lite"};
    }
    if (model.find("flash") != std::string::npos) return {1, "gemini-flash", "Flash"};
    if (model.find("pro") != std::string::npos) return {0, "gemini-pro", "Pro"};
    return {3, "gemini-model-" + model, modelID};
}

}  // namespace

GeminiClient::GeminiClient(const platform::Environment& environment, const platform::Clock& clock,
                           const platform::HttpClient* http)
    : HttpProviderClient(environment, clock, http,
                         platform::resolveOrigin(environment, originVariable, kDefaultOrigin)),
      authOrigin_(platform::resolveOrigin(environment, authOriginVariable, kDefaultAuthOrigin)) {}

model::ProviderUsage GeminiClient::fetch() const {
    requireUsableOrigin();
    if (authOrigin_.error) throw QuotaError::unavailable(*authOrigin_.error);

    const fs::path folder = geminiDirectory(environment_);
    if (const auto settings = platform::readFile(folder / "settings.json", kMaxFileBytes)) {
        switch (decodeAuthType(*settings)) {
            case AuthType::unknown:
            case AuthType::google:
                break;
            case AuthType::apiKey:
                throw QuotaError::unavailable(
                    "Gemini CLI входит по API-ключу, а квоты видны только при входе через "
                    "Google. Выберите вход через Google командой /auth в `gemini`.");
            case AuthType::vertex:
                throw QuotaError::unavailable(
                    "Gemini CLI работает через Vertex AI, а квоты видны только при входе через "
                    "Google. Выберите вход через Google командой /auth в `gemini`.");
            case AuthType::other:
                throw QuotaError::unavailable(
                    "Gemini CLI входит не через Google, а квоты видны только при входе через "
                    "Google. Выберите вход через Google командой /auth в `gemini`.");
        }
    }
    const auto data = platform::readFile(folder / "oauth_creds.json", kMaxFileBytes);
    if (!data) throw QuotaError::unavailable(kNotSignedIn);
    const Credentials credentials = decodeCredentials(*data);

    // The stored token is used while it is valid; an expired one is renewed in memory only.
    std::string accessToken = credentials.accessToken;
    bool renewed = false;
    const bool expired =
        accessToken.empty() ||
        (credentials.expiresAt && *credentials.expiresAt - clock_.now() <= kExpiryMarginSeconds);
    if (expired) {
        if (!credentials.refreshToken) throw QuotaError::unavailable(kSessionExpired);
        accessToken = renewedAccessToken(*credentials.refreshToken);
        renewed = true;
    }

    const auto project = configuredProject(environment_);
    Json metadata = {{"ideType", "IDE_UNSPECIFIED"},
                     {"platform", "PLATFORM_UNSPECIFIED"},
                     {"pluginType", "GEMINI"}};
    Json loadRequest = Json::object();
    if (project) {
        metadata["duetProject"] = *project;
        loadRequest["cloudaicompanionProject"] = *project;
    }
    loadRequest["metadata"] = metadata;

    const auto post = [&](std::string_view method, const Json& body) {
        platform::HttpRequest request;
        request.method = "POST";
        request.url = origin_.origin + "/v1internal:" + std::string(method);
        request.headers = {{"Authorization", "Bearer " + accessToken},
                           {"Content-Type", "application/json"},
                           {"Accept", "application/json"},
                           {"User-Agent", std::string("Kestrane/") + KESTRANE_VERSION}};
        request.body = body.dump();
        return http_.send(request);
    };

    auto loaded = post("loadCodeAssist", loadRequest);
    // A stored token the server no longer takes, though its time has not run out: renewed once.
    if (loaded && loaded->status == 401 && !renewed && credentials.refreshToken) {
        accessToken = renewedAccessToken(*credentials.refreshToken);
        renewed = true;
        loaded = post("loadCodeAssist", loadRequest);
    }
    const CodeAssist codeAssist = parseCodeAssist(checkedBody(loaded));
    const auto quotaProject = codeAssist.project ? codeAssist.project : project;
    if (!quotaProject) {
        throw QuotaError::unavailable(
            "Gemini CLI ещё не настроен для этого аккаунта. Запустите `gemini` и завершите "
            "вход.");
    }

    ProviderUsage usage = parseQuota(
        checkedBody(post("retrieveUserQuota", Json{{"project", *quotaProject}})), clock_.now());
    usage.plan = codeAssist.plan;
    usage.email = credentials.email;
    return model::sanitized(std::move(usage));
}

std::string GeminiClient::renewedAccessToken(const std::string& refreshToken) const {
    platform::HttpRequest request;
    request.method = "POST";
    request.url = authOrigin_.origin + "/token";
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                       {"Accept", "application/json"},
                       {"User-Agent", std::string("Kestrane/") + KESTRANE_VERSION}};
    request.body = platform::formUrlEncoded({{"client_id", std::string(kClientID)},
                                             {"client_secret", std::string(kClientSecret)},
                                             {"refresh_token", refreshToken},
                                             {"grant_type", "refresh_token"}});
    const auto response = http_.send(request);
    if (!response) {
        throw QuotaError::invalidResponse("Google вернул некорректный ответ при обновлении входа.");
    }
    switch (response->status) {
        case 200:
            return parseRenewedToken(response->body);
        case 400:
        case 401:
            // invalid_grant: the sign-in was revoked or has lapsed; only a new one helps.
            throw QuotaError::unavailable(kSessionExpired);
        case 429:
            throw QuotaError::unavailable(
                "Google временно ограничил обновление входа Gemini. Повторите позже.");
        default:
            throw QuotaError::invalidResponse("Google OAuth: HTTP " +
                                              std::to_string(response->status) + ".");
    }
}

fs::path GeminiClient::geminiDirectory(const platform::Environment& environment) {
    if (const auto home = environment.value(homeVariable)) {
        const std::string trimmed = platform::trimmedWhitespace(*home);
        if (!trimmed.empty()) return fs::path(trimmed) / ".gemini";
    }
    return environment.homeDirectory() / ".gemini";
}

GeminiClient::AuthType GeminiClient::decodeAuthType(std::string_view settings) {
    std::optional<std::string> selected;
    try {
        const Json root = platform::parseJson(withoutComments(settings));
        if (!root.is_object()) return AuthType::unknown;
        if (const auto security = root.find("security");
            security != root.end() && security->is_object()) {
            if (const auto auth = security->find("auth");
                auth != security->end() && auth->is_object()) {
                selected = lenientString(*auth, "selectedType");
            }
        }
        if (!selected) selected = lenientString(root, "selectedAuthType");
    } catch (const platform::DecodingError&) {
        return AuthType::unknown;
    }
    if (!selected || selected->empty()) return AuthType::unknown;
    if (*selected == "oauth-personal" || *selected == "LOGIN_WITH_GOOGLE") return AuthType::google;
    if (*selected == "gemini-api-key" || *selected == "USE_GEMINI") return AuthType::apiKey;
    if (*selected == "vertex-ai" || *selected == "USE_VERTEX_AI") return AuthType::vertex;
    return AuthType::other;
}

GeminiClient::Credentials GeminiClient::decodeCredentials(std::string_view data) {
    Json root;
    try {
        root = platform::parseJson(data);
    } catch (const platform::DecodingError&) {
        throw QuotaError::unavailable(kNotSignedIn);
    }
    if (!root.is_object()) throw QuotaError::unavailable(kNotSignedIn);
    Credentials credentials;
    // The CLI's file: a member of another type than it writes counts as missing.
    if (auto token = lenientString(root, "access_token")) {
        *token = platform::trimmedWhitespace(*token);
        if (isToken(*token)) credentials.accessToken = std::move(*token);
    }
    if (auto token = lenientString(root, "refresh_token")) {
        *token = platform::trimmedWhitespace(*token);
        if (isToken(*token)) credentials.refreshToken = std::move(*token);
    }
    if (const auto expiry = root.find("expiry_date"); expiry != root.end() && expiry->is_number()) {
        const double seconds = expiry->get<double>() / 1000;
        if (std::isfinite(seconds)) credentials.expiresAt = platform::Date{seconds};
    }
    if (const auto idToken = lenientString(root, "id_token")) {
        credentials.email = emailFromIdToken(*idToken);
    }
    if (credentials.accessToken.empty() && !credentials.refreshToken) {
        throw QuotaError::unavailable(kNotSignedIn);
    }
    return credentials;
}

std::optional<std::string> GeminiClient::emailFromIdToken(std::string_view idToken) {
    if (idToken.size() > kMaxTokenBytes) return std::nullopt;
    const auto first = idToken.find('.');
    if (first == std::string_view::npos) return std::nullopt;
    const auto second = idToken.find('.', first + 1);
    std::string claims(idToken.substr(
        first + 1, second == std::string_view::npos ? std::string_view::npos : second - first - 1));
    for (char& c : claims) {
        if (c == '-') c = '+';
        if (c == '_') c = '/';
    }
    while (!claims.empty() && claims.back() == '=') claims.pop_back();
    while (claims.size() % 4 != 0) claims += '=';
    const auto decoded = platform::decodeBase64(claims);
    if (!decoded) return std::nullopt;
    try {
        const Json payload = platform::parseJson(*decoded);
        if (!payload.is_object()) return std::nullopt;
        auto email = lenientString(payload, "email");
        if (!email) return std::nullopt;
        std::string clean = model::sanitizedText(*email);
        if (clean.empty()) return std::nullopt;
        return clean;
    } catch (const platform::DecodingError&) {
        return std::nullopt;
    }
}

std::string GeminiClient::parseRenewedToken(std::string_view data) {
    const char* const unreadable = "Не удалось разобрать ответ Google при обновлении входа.";
    std::optional<std::string> token;
    try {
        const Json root = platform::parseJson(data);
        token = platform::stringMember(platform::requireObject(root), "access_token");
    } catch (const platform::DecodingError&) {
        throw QuotaError::invalidResponse(unreadable);
    }
    if (!token || !isToken(*token)) throw QuotaError::invalidResponse(unreadable);
    return *token;
}

GeminiClient::CodeAssist GeminiClient::parseCodeAssist(std::string_view data) {
    CodeAssist result;
    try {
        const Json root = platform::parseJson(data);
        const Json& answer = platform::requireObject(root);
        if (const auto it = answer.find("cloudaicompanionProject"); it != answer.end()) {
            if (it->is_string()) {
                result.project = it->get<std::string>();
            } else if (it->is_object()) {
                result.project = platform::stringMember(*it, "id");
            } else if (!it->is_null()) {
                throw platform::DecodingError();
            }
        }
        if (result.project && result.project->empty()) result.project.reset();

        std::optional<std::string> currentID, currentName, paidName;
        if (const Json* tier = platform::objectMember(answer, "currentTier")) {
            currentID = platform::stringMember(*tier, "id");
            currentName = platform::stringMember(*tier, "name");
        }
        if (const Json* tier = platform::objectMember(answer, "paidTier")) {
            (void)platform::stringMember(*tier, "id");
            paidName = platform::stringMember(*tier, "name");
        }
        // A paid subscription by its name; the free and standard tiers in a word.
        if (paidName && !paidName->empty()) {
            result.plan = paidName;
        } else if (currentID == "free-tier") {
            result.plan = "Free";
        } else if (currentID == "standard-tier") {
            result.plan = "Standard";
        } else if (currentID == "legacy-tier") {
            result.plan = "Legacy";
        } else if (currentName && !currentName->empty()) {
            result.plan = currentName;
        } else if (currentID && !currentID->empty()) {
            result.plan = currentID;
        }
    } catch (const platform::DecodingError&) {
        throw QuotaError::invalidResponse(kUnreadable);
    }
    return result;
}

model::ProviderUsage GeminiClient::parseQuota(std::string_view data, platform::Date now) {
    struct Chosen {
        Family family;
        double remaining;
        std::optional<platform::Date> resetsAt;
    };
    std::vector<Chosen> families;
    try {
        const Json root = platform::parseJson(data);
        const Json& answer = platform::requireObject(root);
        if (const Json* buckets = platform::arrayMember(answer, "buckets")) {
            for (const Json& element : *buckets) {
                const Json& bucket = platform::requireObject(element);
                const auto modelID = platform::stringMember(bucket, "modelId");
                const auto fraction = platform::numberMember(bucket, "remainingFraction");
                const auto resetTime = platform::stringMember(bucket, "resetTime");
                if (!modelID || modelID->empty() || !fraction) continue;
                const double remaining = std::clamp(*fraction, 0.0, 1.0);
                std::optional<platform::Date> resetsAt;
                if (resetTime && !resetTime->empty()) {
                    resetsAt = platform::parseInternetDateTime(*resetTime);
                }
                Family family = familyOf(*modelID);
                const auto known =
                    std::find_if(families.begin(), families.end(),
                                 [&](const Chosen& c) { return c.family.id == family.id; });
                if (known == families.end()) {
                    families.push_back({std::move(family), remaining, resetsAt});
                } else if (remaining < known->remaining) {
                    known->remaining = remaining;
                    known->resetsAt = resetsAt;
                }
            }
        }
    } catch (const platform::DecodingError&) {
        throw QuotaError::invalidResponse(kUnreadable);
    }
    if (families.empty()) throw QuotaError::invalidResponse("Gemini не вернул квоты.");

    std::stable_sort(families.begin(), families.end(), [](const Chosen& a, const Chosen& b) {
        return a.family.rank < b.family.rank;
    });
    ProviderUsage usage{.provider = model::ProviderKind::gemini, .updatedAt = now};
    for (auto& chosen : families) {
        usage.windows.push_back(
            LimitWindow{std::move(chosen.family.id), std::move(chosen.family.name),
                        100 - chosen.remaining * 100, kDayMinutes, chosen.resetsAt});
    }
    return model::sanitized(std::move(usage));
}

bool geminiHasSignIn(const platform::Environment& environment) {
    const fs::path folder = GeminiClient::geminiDirectory(environment);
    if (const auto settings = platform::readFile(folder / "settings.json", kMaxFileBytes)) {
        const auto type = GeminiClient::decodeAuthType(*settings);
        if (type != GeminiClient::AuthType::unknown && type != GeminiClient::AuthType::google) {
            return false;
        }
    }
    const auto data = platform::readFile(folder / "oauth_creds.json", kMaxFileBytes);
    if (!data) return false;
    try {
        (void)GeminiClient::decodeCredentials(*data);
        return true;
    } catch (const platform::LocalizedError&) {
        return false;
    }
}

}  // namespace kestrane::providers
