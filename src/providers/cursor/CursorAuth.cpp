#include "providers/cursor/CursorAuth.h"

#include <vector>

#include "model/QuotaError.h"
#include "platform/Base64.h"

namespace kestrane::providers {
namespace {

using model::QuotaError;

const char* const kUnparsableToken = "Не удалось разобрать токен Cursor.";
const char* const kNoUserID = "В токене Cursor нет ID пользователя.";

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const auto at = text.find(separator);
        pieces.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return pieces;
        text.remove_prefix(at + 1);
    }
}

// The cookie travels in a header line: anything but visible ASCII (a line break above all)
// would let a crafted token add headers of its own.
bool isCookieSafe(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == ';' || c == ',') return false;
    }
    return true;
}

}  // namespace

platform::Json CursorAuth::payload() const {
    const auto pieces = split(accessToken_, '.');
    if (pieces.size() < 2) throw QuotaError::invalidResponse("Токен Cursor не является JWT.");
    std::string claims(pieces[1]);
    for (char& c : claims) {
        if (c == '-') c = '+';
        if (c == '_') c = '/';
    }
    while (claims.size() % 4 != 0) claims += '=';
    const auto decoded = platform::decodeBase64(claims);
    if (!decoded) throw QuotaError::invalidResponse(kUnparsableToken);
    try {
        platform::Json json = platform::parseJson(*decoded);
        if (json.is_object()) return json;
    } catch (const platform::DecodingError&) {
    }
    throw QuotaError::invalidResponse(kUnparsableToken);
}

std::string CursorAuth::userID() const {
    const platform::Json claims = payload();
    const auto sub = claims.find("sub");
    if (sub == claims.end() || !sub->is_string()) throw QuotaError::invalidResponse(kNoUserID);
    const auto pieces = split(sub->get_ref<const std::string&>(), '|');
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
        if (it->empty()) continue;
        if (!isCookieSafe(*it)) break;
        return std::string(*it);
    }
    throw QuotaError::invalidResponse(kNoUserID);
}

platform::Date CursorAuth::expiresAt() const {
    const platform::Json claims = payload();
    const auto exp = claims.find("exp");
    if (exp == claims.end() || !exp->is_number()) {
        throw QuotaError::invalidResponse("В токене Cursor нет срока действия.");
    }
    return platform::Date{exp->get<double>()};
}

void CursorAuth::requireUnexpired(platform::Date now) const {
    if (expiresAt() - now <= 60) {
        throw QuotaError::unavailable("Сессия Cursor истекла. Откройте Cursor и войдите снова.");
    }
}

std::string CursorAuth::cookie() const {
    const std::string user = userID();
    if (!isCookieSafe(accessToken_)) throw QuotaError::invalidResponse(kUnparsableToken);
    return "WorkosCursorSessionToken=" + user + "%3A%3A" + accessToken_;
}

}  // namespace kestrane::providers
