#include "providers/claude/ClaudeClient.h"

#include <algorithm>
#include <set>

#include "model/OutsideText.h"
#include "model/QuotaError.h"
#include "platform/Files.h"
#include "platform/Iso8601.h"
#include "platform/Json.h"
#include "platform/TextConversions.h"
#include "platform/UnicodeText.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::ProviderUsage;
using model::QuotaError;
using platform::Json;

constexpr std::string_view kDefaultApiOrigin = "https://api.anthropic.com";
constexpr std::string_view kKeychainService = "Claude Code-credentials";
// A credentials file is a few hundred bytes; anything this large is not one.
constexpr std::size_t kMaxCredentialsFileBytes = 1024 * 1024;

const char* const kSessionExpired = "Сессия Claude истекла. Выполните `claude login`.";
const char* const kStoredSessionExpired =
    "Сессия Claude истекла. Откройте Claude Code, чтобы он обновил вход.";
const char* const kNoOAuthAccess = "В сессии Claude нет OAuth-доступа. Выполните `claude login`.";

// The token travels in a header line: a line break or any other control character in it
// would let the stored file add headers of its own.
bool isHeaderSafe(std::string_view text) { return platform::hasNoControlBytes(text); }

double clampedPercent(double value) { return std::clamp(value, 0.0, 100.0); }

// The keychain item (never with a prompt); nullopt when there is none.
std::optional<std::string> readKeychainWithoutPrompt(
    const ClaudeClient::KeychainSession& keychainSession) {
    auto lookup =
        keychainSession ? keychainSession() : platform::keychainGenericPassword(kKeychainService);
    switch (lookup.status) {
        case platform::KeychainItem::Status::found:
            return std::move(lookup.data);
        case platform::KeychainItem::Status::notFound:
            return std::nullopt;
        case platform::KeychainItem::Status::failed:
            break;
    }
    throw QuotaError::unavailable("Не удалось прочитать локальную сессию Claude.");
}

}  // namespace

std::optional<std::string> ClaudeClient::Credentials::plan() const {
    if (subscriptionType && !subscriptionType->empty())
        return platform::capitalisedWords(*subscriptionType);
    if (!rateLimitTier) return std::nullopt;
    const std::string tier = platform::lowercased(*rateLimitTier);
    static constexpr std::pair<std::string_view, std::string_view> kTiers[] = {
        {"max_20x", "Max 20x"}, {"max_5x", "Max 5x"}, {"max", "Max"},
        {"pro", "Pro"},         {"team", "Team"},
    };
    for (const auto& [needle, name] : kTiers) {
        if (tier.find(needle) != std::string::npos) return std::string(name);
    }
    return std::nullopt;
}

ClaudeClient::ClaudeClient(const platform::Environment& environment, const platform::Clock& clock,
                           const platform::HttpClient* http, KeychainSession keychainSession)
    : HttpProviderClient(
          environment, clock, http,
          platform::resolveOrigin(environment, apiOriginVariable, kDefaultApiOrigin)),
      keychainSession_(std::move(keychainSession)) {}

model::ProviderUsage ClaudeClient::fetch() const {
    requireUsableOrigin();

    // The session is used as stored and never renewed here: Claude's refresh tokens are
    // single-use, so redeeming one would sign the user's own Claude Code out. A token close
    // to its expiry is still valid; an expired one is left for Claude Code to renew.
    const Credentials credentials = loadCredentials();
    if (credentials.expiresAt && *credentials.expiresAt <= clock_.now()) {
        throw QuotaError::unavailable(kStoredSessionExpired);
    }

    platform::HttpRequest request;
    request.url = origin_.origin + "/api/oauth/usage";
    request.timeout = requestIdleLimit;
    request.headers = {
        {"Authorization", "Bearer " + credentials.accessToken},
        {"Accept", "application/json"},
        {"anthropic-beta", "oauth-2025-04-20"},
        {"User-Agent", "claude-code/2.1.0"},
    };
    const auto response = http_.send(request);
    if (!response) throw QuotaError::invalidResponse("Claude вернул некорректный ответ.");
    switch (response->status) {
        case 200:
            return parseUsage(response->body, credentials.plan(), clock_.now());
        case 401:
        case 403:
            throw QuotaError::unavailable(kSessionExpired);
        case 429:
            throw QuotaError::unavailable(
                "Claude временно ограничил проверку квот. Повторите позже.");
        default:
            throw QuotaError::invalidResponse("Claude API: HTTP " +
                                              std::to_string(response->status) + ".");
    }
}

ClaudeClient::Credentials ClaudeClient::loadCredentials() const {
    return loadCredentials(environment_, keychainSession_);
}

bool ClaudeClient::hasStoredSignIn(const platform::Environment& environment,
                                   const KeychainSession& keychainSession) {
    try {
        loadCredentials(environment, keychainSession);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

ClaudeClient::Credentials ClaudeClient::loadCredentials(const platform::Environment& environment,
                                                        const KeychainSession& keychainSession) {
    if (const auto token = environment.value(tokenVariable)) {
        std::string trimmed = platform::trimmedWhitespace(*token);
        if (!trimmed.empty()) {
            if (!isHeaderSafe(trimmed)) throw QuotaError::unavailable(kNoOAuthAccess);
            return Credentials{.accessToken = std::move(trimmed)};
        }
    }

    const auto file = credentialsFile(environment);
    if (const auto data = platform::readFile(file, kMaxCredentialsFileBytes)) {
        try {
            return decodeCredentials(*data);
        } catch (const platform::LocalizedError&) {
            // An unusable file is not an error: the keychain may still hold the session.
        }
    }

    if (const auto data = readKeychainWithoutPrompt(keychainSession)) {
        return decodeCredentials(*data);
    }
    throw QuotaError::unavailable("Claude не авторизован. Выполните `claude login`.");
}

ClaudeClient::Credentials ClaudeClient::decodeCredentials(std::string_view data) {
    std::optional<std::string> accessToken;
    Credentials credentials;
    try {
        const Json root = platform::parseJson(data);
        const Json* oauth = platform::objectMember(platform::requireObject(root), "claudeAiOauth");
        if (oauth) {
            accessToken = platform::stringMember(*oauth, "accessToken");
            credentials.refreshToken = platform::stringMember(*oauth, "refreshToken");
            if (const auto millis = platform::numberMember(*oauth, "expiresAt")) {
                credentials.expiresAt = platform::Date{*millis / 1000.0};
            }
            if (const Json* scopes = platform::arrayMember(*oauth, "scopes")) {
                for (const Json& scope : *scopes) {
                    if (!scope.is_string()) throw platform::DecodingError();
                    credentials.scopes.push_back(scope.get<std::string>());
                }
            }
            credentials.rateLimitTier = platform::stringMember(*oauth, "rateLimitTier");
            credentials.subscriptionType = platform::stringMember(*oauth, "subscriptionType");
        }
    } catch (const platform::DecodingError&) {
        throw QuotaError::invalidResponse("Локальная сессия Claude имеет неизвестный формат.");
    }
    credentials.accessToken = platform::trimmedWhitespace(accessToken.value_or(""));
    if (credentials.accessToken.empty() || !isHeaderSafe(credentials.accessToken)) {
        throw QuotaError::unavailable(kNoOAuthAccess);
    }
    return credentials;
}

std::filesystem::path ClaudeClient::credentialsFile(const platform::Environment& environment) {
    // Claude Code keeps its files in CLAUDE_CONFIG_DIR when the user has moved them there.
    if (const auto directory = environment.value(configDirectoryVariable)) {
        const std::string trimmed = platform::trimmedWhitespace(*directory);
        if (!trimmed.empty()) return std::filesystem::path(trimmed) / ".credentials.json";
    }
    return environment.homeDirectory() / ".claude" / ".credentials.json";
}

model::ProviderUsage ClaudeClient::parseUsage(std::string_view data,
                                              const std::optional<std::string>& plan,
                                              platform::Date now) {
    ProviderUsage usage{.provider = model::ProviderKind::claude, .plan = plan, .updatedAt = now};
    try {
        const Json root = platform::parseJson(data);
        const Json& answer = platform::requireObject(root);

        struct FixedWindow {
            std::string_view key;
            std::string_view id;
            std::string_view name;
        };
        static constexpr FixedWindow kFixedWindows[] = {
            {"five_hour", "claude-session", "Сессия"},
            {"seven_day", "claude-week", "Все модели"},
            {"seven_day_sonnet", "claude-sonnet", "Sonnet"},
            {"seven_day_opus", "claude-opus", "Opus"},
        };
        std::vector<LimitWindow> windows;
        // Every member is read, so a wrongly typed one fails the whole answer.
        std::vector<std::pair<const FixedWindow*, const Json*>> present;
        for (const auto& fixed : kFixedWindows) {
            const Json* window = platform::objectMember(answer, fixed.key);
            if (!window) continue;
            const auto utilization = platform::numberMember(*window, "utilization");
            const auto resetsAt = platform::stringMember(*window, "resets_at");
            if (!utilization) continue;
            windows.push_back({std::string(fixed.id), std::string(fixed.name),
                               clampedPercent(*utilization), fixed.key == "five_hour" ? 300 : 10080,
                               parseDate(resetsAt)});
        }

        std::optional<bool> extraEnabled;
        std::optional<double> monthlyLimit, usedCredits;
        std::optional<std::string> currency;
        if (const Json* extra = platform::objectMember(answer, "extra_usage")) {
            extraEnabled = platform::boolMember(*extra, "is_enabled");
            monthlyLimit = platform::numberMember(*extra, "monthly_limit");
            usedCredits = platform::numberMember(*extra, "used_credits");
            currency = platform::stringMember(*extra, "currency");
        }

        if (const Json* limits = platform::arrayMember(answer, "limits")) {
            for (std::size_t index = 0; index < limits->size(); ++index) {
                const Json& limit = platform::requireObject((*limits)[index]);
                const auto kind = platform::stringMember(limit, "kind");
                const auto group = platform::stringMember(limit, "group");
                const auto percent = platform::numberMember(limit, "percent");
                const auto resetsAt = platform::stringMember(limit, "resets_at");
                const auto isActive = platform::boolMember(limit, "is_active");
                std::optional<std::string> modelName;
                if (const Json* scope = platform::objectMember(limit, "scope")) {
                    if (const Json* model = platform::objectMember(*scope, "model")) {
                        modelName = platform::stringMember(*model, "display_name");
                    }
                }
                if (isActive == false) continue;
                const bool weekly = kind == "weekly_scoped" || group == "weekly";
                if (!weekly || !percent || !modelName || modelName->empty()) continue;
                windows.push_back({"claude-scoped-" + std::to_string(index) + "-" + *modelName,
                                   *modelName, clampedPercent(*percent), 10080,
                                   parseDate(resetsAt)});
            }
        }

        usage.windows = deduplicate(std::move(windows));
        if (extraEnabled == true) {
            usage.spendUsed = usedCredits;
            usage.spendLimit = monthlyLimit;
            if (currency) usage.currency = platform::asciiUppercased(*currency);
        }
    } catch (const platform::DecodingError&) {
        throw QuotaError::invalidResponse("Не удалось разобрать квоты Claude.");
    }
    return model::sanitized(std::move(usage));
}

std::optional<platform::Date> ClaudeClient::parseDate(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    return platform::parseInternetDateTime(*text);
}

std::vector<model::LimitWindow> ClaudeClient::deduplicate(std::vector<model::LimitWindow> windows) {
    std::set<std::string> seen;
    std::vector<LimitWindow> kept;
    for (auto& window : windows) {
        const auto key = window.name + "-" + std::to_string(window.durationMinutes.value_or(0));
        if (seen.insert(key).second) kept.push_back(std::move(window));
    }
    return kept;
}

}  // namespace kestrane::providers
