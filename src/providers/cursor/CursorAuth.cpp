#include "providers/cursor/CursorAuth.h"

#include <cstdint>
#include <vector>

#include "model/QuotaError.h"

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

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
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

std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    while (padding < text.size() && padding < 2 && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    std::string decoded;
    decoded.reserve(text.size() / 4 * 3);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const int value = base64Value(text[i]);
        if (value < 0) return std::nullopt;
        buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            decoded += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return decoded;
}

platform::Json CursorAuth::payload() const {
    const auto pieces = split(accessToken_, '.');
    if (pieces.size() < 2) throw QuotaError::invalidResponse("Токен Cursor не является JWT.");
    std::string claims(pieces[1]);
    for (char& c : claims) {
        if (c == '-') c = '+';
        if (c == '_') c = '/';
    }
    while (claims.size() % 4 != 0) claims += '=';
    const auto decoded = decodeBase64(claims);
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
