#include "platform/UnicodeText.h"

#include <algorithm>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace kestrane::platform {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at `i`, or 0 when it is ill-formed.
std::size_t sequenceLength(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

// Bytes of the well-formed start of `bytes`.
std::size_t validPrefixLength(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t length = sequenceLength(bytes, i);
        if (length == 0) break;
        i += length;
    }
    return i;
}

struct UTextCloser {
    void operator()(UText* text) const { utext_close(text); }
};

// Walks grapheme clusters of UTF-8 text without converting it; returns the byte offset
// after `count` clusters (or the end) and how many clusters were passed.
std::pair<std::size_t, std::size_t> advanceCharacters(std::string_view text, std::size_t count) {
    if (count == 0 || text.empty()) return {0, 0};
    const std::string valid = decodeUtf8Leniently(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, UTextCloser> utext(
        utext_openUTF8(nullptr, valid.data(), static_cast<int64_t>(valid.size()), &status));
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) return {valid.size(), valid.size()};
    breaks->setText(utext.get(), status);
    if (U_FAILURE(status)) return {valid.size(), valid.size()};
    std::size_t passed = 0;
    int32_t offset = 0;
    while (passed < count) {
        const int32_t next = breaks->next();
        if (next == icu::BreakIterator::DONE) break;
        offset = next;
        ++passed;
    }
    return {static_cast<std::size_t>(offset), passed};
}

}  // namespace

bool isWhiteSpace(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)); }

std::pair<std::size_t, std::size_t> nextWord(std::string_view text, std::size_t from) {
    // Length of the white-space character at `i`, 0 when there is none. Plain ASCII, which
    // is nearly every byte of a process table, never reaches ICU.
    const auto spaceAt = [&](std::size_t i) -> std::size_t {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) return lead == ' ' || (lead >= '\t' && lead <= '\r') ? 1 : 0;
        const std::size_t length = sequenceLength(text, i);
        if (length == 0) return 0;
        UChar32 c = 0;
        std::size_t k = i;
        U8_NEXT_UNSAFE(text.data(), k, c);
        return u_isUWhiteSpace(c) ? length : 0;
    };
    std::size_t start = from;
    while (start < text.size()) {
        const std::size_t space = spaceAt(start);
        if (space == 0) break;
        start += space;
    }
    if (start >= text.size()) return {text.size(), text.size()};
    std::size_t end = start;
    while (end < text.size() && spaceAt(end) == 0) {
        const auto lead = static_cast<unsigned char>(text[end]);
        end += lead < 0x80 ? 1 : std::max<std::size_t>(1, sequenceLength(text, end));
    }
    return {start, end};
}

bool isValidUtf8(std::string_view bytes) { return validPrefixLength(bytes) == bytes.size(); }

std::string decodeUtf8Leniently(std::string_view bytes) {
    std::size_t i = validPrefixLength(bytes);
    if (i == bytes.size()) return std::string(bytes);

    std::string result(bytes.substr(0, i));
    result.reserve(bytes.size() + 16);
    while (i < bytes.size()) {
        const std::size_t length = sequenceLength(bytes, i);
        if (length == 0) {
            result += kReplacement;
            ++i;
        } else {
            result.append(bytes.substr(i, length));
            i += length;
        }
    }
    return result;
}

std::string lowercased(std::string_view text) {
    bool ascii = true;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        // The common case (paths, program names) needs no conversion through UTF-16.
        std::string result(text);
        for (char& c : result) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return result;
    }
    auto unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

std::string normalisedEmail(std::string_view email) {
    const auto text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(email.data(), static_cast<int32_t>(email.size())));
    int32_t begin = 0;
    int32_t end = text.length();
    const auto isSpace = [](UChar32 c) { return u_isUWhiteSpace(c) || (c >= 0x0A && c <= 0x0D); };
    while (begin < end && isSpace(text.char32At(begin))) begin = text.moveIndex32(begin, 1);
    while (end > begin) {
        const int32_t previous = text.moveIndex32(end, -1);
        if (!isSpace(text.char32At(previous))) break;
        end = previous;
    }
    icu::UnicodeString trimmed(text, begin, end - begin);
    trimmed.toLower(icu::Locale::getRoot());
    std::string result;
    trimmed.toUTF8String(result);
    return result;
}

std::string slugged(std::string_view text) {
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
    icu::UnicodeString result;
    bool previousKept = false;
    for (int32_t i = 0; i < unicode.length(); i = unicode.moveIndex32(i, 1)) {
        const UChar32 c = unicode.char32At(i);
        const uint32_t category = U_GET_GC_MASK(c);
        // A combining mark belongs to the letter before it ("é" written as e + accent).
        const bool keep = (category & (U_GC_L_MASK | U_GC_N_MASK)) != 0 ||
                          (previousKept && (category & U_GC_M_MASK) != 0);
        if (keep) {
            result.append(c);
        } else if (result.isEmpty() || result.charAt(result.length() - 1) != u'-') {
            result.append(u'-');
        }
        previousKept = keep;
    }
    std::string utf8;
    result.toUTF8String(utf8);
    return utf8;
}

std::size_t characterCount(std::string_view text, std::size_t stopAfter) {
    return advanceCharacters(text, stopAfter).second;
}

std::string characterPrefix(std::string_view text, std::size_t count) {
    const std::string valid = decodeUtf8Leniently(text);
    return valid.substr(0, advanceCharacters(valid, count).first);
}

struct CaseInsensitiveCollator::Impl {
    std::unique_ptr<icu::Collator> collator;
};

CaseInsensitiveCollator::CaseInsensitiveCollator() {
    UErrorCode status = U_ZERO_ERROR;
    // A process started with LANG=C gets ICU's POSIX locale, whose collation orders by ASCII
    // code and so puts every capital before every small letter; use the root order instead.
    icu::Locale locale = icu::Locale::getDefault();
    if (std::string_view(locale.getName()) == "en_US_POSIX") locale = icu::Locale::getRoot();
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !collator) return;
    // Secondary strength: letters and accents count, letter case does not.
    collator->setStrength(icu::Collator::SECONDARY);
    impl_ = std::make_unique<Impl>(Impl{std::move(collator)});
}

CaseInsensitiveCollator::~CaseInsensitiveCollator() = default;

int CaseInsensitiveCollator::compare(std::string_view a, std::string_view b) const {
    if (!impl_) return a.compare(b);
    UErrorCode status = U_ZERO_ERROR;
    const auto result = impl_->collator->compareUTF8(
        icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
        icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    if (U_FAILURE(status)) return a.compare(b);
    return static_cast<int>(result);
}

}  // namespace kestrane::platform
