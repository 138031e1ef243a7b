#include "providers/codex/CodexServerError.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <utility>

#include "model/OutsideText.h"

namespace kestrane::providers {
namespace {

using model::QuotaError;

const char* const kSignedOut = "Codex не авторизован. Выполните `codex login`.";
const char* const kApiKeyOnly =
    "Codex вошёл по API-ключу, а лимиты подписки видны только после входа через ChatGPT. "
    "Выполните `codex login`.";
const char* const kLoginExpired = "Вход в Codex больше не действует. Выполните `codex login`.";
const char* const kRefused =
    "Сервер ChatGPT отказал Codex в доступе к лимитам. Выполните `codex login` заново.";
const char* const kUnreachable =
    "Codex не смог связаться с сервером ChatGPT. Проверьте подключение к интернету и настройки "
    "прокси.";
const char* const kAccountUnavailable =
    "Codex не смог получить сведения об учётной записи ChatGPT. Проверьте подключение к "
    "интернету и повторите позже.";
const char* const kTooManyRequests =
    "Сервер ChatGPT временно ограничил запросы Codex. Повторите позже.";
const char* const kServerFailed =
    "Сервер ChatGPT не смог ответить Codex о лимитах. Повторите позже.";
const char* const kNoLimits = "Codex не вернул данные о лимитах.";

std::string lowercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The HTTP status the server reports for its own request to ChatGPT: "… failed: 401
// Unauthorized; …" from the rate-limit read, "… unauthorized (401)" from account discovery.
std::optional<int> httpStatus(std::string_view text) {
    const auto threeDigits = [&](std::size_t at) -> std::optional<int> {
        if (at + 3 > text.size()) return std::nullopt;
        int value = 0;
        for (std::size_t i = at; i < at + 3; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        // A fourth digit would make it some other number.
        if (at + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[at + 3]))) {
            return std::nullopt;
        }
        return value;
    };
    for (const std::string_view marker : {std::string_view(" failed: "), std::string_view("(")}) {
        for (auto at = text.find(marker); at != std::string_view::npos;
             at = text.find(marker, at + 1)) {
            if (const auto status = threeDigits(at + marker.size())) return status;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<QuotaError> knownCodexServerError(std::string_view serverText) {
    const std::string text = lowercased(serverText);
    // "codex account authentication required to read rate limits" when nobody signed in,
    // "chatgpt authentication required to …" after `codex login --with-api-key`.
    if (contains(text, "codex account authentication required")) {
        return QuotaError::unavailable(kSignedOut);
    }
    if (contains(text, "chatgpt authentication required")) {
        return QuotaError::unavailable(kApiKeyOnly);
    }
    // A login the server could not renew: "Your access token could not be refreshed because
    // your refresh token has expired. Please log out and sign in again." and its siblings.
    if (contains(text, "could not be refreshed") || contains(text, "sign in again")) {
        return QuotaError::unavailable(kLoginExpired);
    }
    // Only the server's own requests to ChatGPT carry these; their wording is the server's.
    const bool rateLimits = contains(text, "failed to fetch codex rate limits");
    const bool discovery = contains(text, "workspace routing discovery");
    if (rateLimits || discovery) {
        if (const auto status = httpStatus(text)) {
            if (*status == 401) return QuotaError::unavailable(kLoginExpired);
            if (*status == 403) return QuotaError::unavailable(kRefused);
            if (*status == 429) return QuotaError::unavailable(kTooManyRequests);
            if (*status >= 500 && *status <= 599) return QuotaError::unavailable(kServerFailed);
        }
        if (contains(text, "error sending request")) return QuotaError::unavailable(kUnreachable);
        if (contains(text, "no snapshots returned")) return QuotaError::invalidResponse(kNoLimits);
        // Discovery says only "failed" whatever went wrong: no network, or a server error.
        if (discovery && contains(text, "discovery failed")) {
            return QuotaError::unavailable(kAccountUnavailable);
        }
    }
    return std::nullopt;
}

QuotaError codexServerError(std::string_view serverText) {
    if (auto known = knownCodexServerError(serverText)) return std::move(*known);
    const std::string shown = model::sanitizedText(serverText);
    return QuotaError::invalidResponse(shown.empty() ? "Ошибка Codex RPC" : shown);
}

QuotaError codexSignedOutError() { return QuotaError::unavailable(kSignedOut); }

}  // namespace kestrane::providers
