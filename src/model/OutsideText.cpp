#include "model/OutsideText.h"

#include "platform/UnicodeText.h"

namespace kestrane::model {
namespace {

void sanitizeOptional(std::optional<std::string>& text) {
    if (text) text = sanitizedText(*text);
}

}  // namespace

std::string sanitizedText(std::string_view text) {
    const std::string valid = platform::decodeUtf8Leniently(text);
    std::string result;
    result.reserve(valid.size());
    const auto appendSpace = [&] {
        if (!result.empty() && result.back() != ' ') result += ' ';
    };
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const auto byte = static_cast<unsigned char>(valid[i]);
        if (byte < 0x20 || byte == 0x7F || byte == ' ') {
            appendSpace();
            continue;
        }
        // C1 controls U+0080…U+009F are C2 80…C2 9F in UTF-8.
        if (byte == 0xC2 && i + 1 < valid.size()) {
            const auto next = static_cast<unsigned char>(valid[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                appendSpace();
                ++i;
                continue;
            }
        }
        // U+2028 LINE SEPARATOR and U+2029 PARAGRAPH SEPARATOR break lines too.
        if (byte == 0xE2 && i + 2 < valid.size() &&
            static_cast<unsigned char>(valid[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(valid[i + 2]) == 0xA8 ||
             static_cast<unsigned char>(valid[i + 2]) == 0xA9)) {
            appendSpace();
            i += 2;
            continue;
        }
        result += static_cast<char>(byte);
    }
    if (!result.empty() && result.back() == ' ') result.pop_back();
    return result;
}

ProviderUsage sanitized(ProviderUsage usage) {
    sanitizeOptional(usage.email);
    sanitizeOptional(usage.plan);
    sanitizeOptional(usage.currency);
    for (auto& window : usage.windows) {
        window.id = sanitizedText(window.id);
        window.name = sanitizedText(window.name);
    }
    for (auto& context : usage.recentModels) context.model = sanitizedText(context.model);
    return usage;
}

}  // namespace kestrane::model
