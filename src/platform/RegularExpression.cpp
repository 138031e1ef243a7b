#include "platform/RegularExpression.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "platform/UnicodeText.h"

namespace kestrane::platform {
namespace {

icu::UnicodeString fromUtf8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

RegularExpression::RegularExpression(std::unique_ptr<icu::RegexPattern> pattern)
    : pattern_(std::move(pattern)) {}
RegularExpression::RegularExpression(RegularExpression&&) noexcept = default;
RegularExpression& RegularExpression::operator=(RegularExpression&&) noexcept = default;
RegularExpression::~RegularExpression() = default;

std::optional<RegularExpression> RegularExpression::compile(std::string_view pattern) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError error;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(fromUtf8(pattern), 0, error, status));
    if (U_FAILURE(status) || !compiled) return std::nullopt;
    return RegularExpression(std::move(compiled));
}

std::string RegularExpression::replacingMatches(std::string_view text,
                                                std::string_view replacement) const {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString input = fromUtf8(text);
    std::unique_ptr<icu::RegexMatcher> matcher(pattern_->matcher(input, status));
    if (U_FAILURE(status) || !matcher) return decodeUtf8Leniently(text);
    const icu::UnicodeString result = matcher->replaceAll(fromUtf8(replacement), status);
    if (U_FAILURE(status)) return decodeUtf8Leniently(text);
    std::string output;
    result.toUTF8String(output);
    return output;
}

}  // namespace kestrane::platform
