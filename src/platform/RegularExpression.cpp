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

std::string toUtf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

}  // namespace

struct RegularExpression::Pattern {
    std::unique_ptr<icu::RegexPattern> compiled;

    // A matcher over `input`, which must outlive it; nullptr on failure.
    std::unique_ptr<icu::RegexMatcher> matcher(const icu::UnicodeString& input) const {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> result(compiled->matcher(input, status));
        if (U_FAILURE(status)) return nullptr;
        return result;
    }
};

RegularExpression::RegularExpression(std::unique_ptr<Pattern> pattern)
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
    return RegularExpression(std::make_unique<Pattern>(Pattern{std::move(compiled)}));
}

std::string RegularExpression::replacingMatches(std::string_view text,
                                                std::string_view replacement) const {
    const icu::UnicodeString input = fromUtf8(text);
    const auto matcher = pattern_->matcher(input);
    if (!matcher) return decodeUtf8Leniently(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString result = matcher->replaceAll(fromUtf8(replacement), status);
    if (U_FAILURE(status)) return decodeUtf8Leniently(text);
    return toUtf8(result);
}

bool RegularExpression::isFoundIn(std::string_view text) const {
    const icu::UnicodeString input = fromUtf8(text);
    const auto matcher = pattern_->matcher(input);
    if (!matcher) return false;
    UErrorCode status = U_ZERO_ERROR;
    const bool found = matcher->find(status);
    return U_SUCCESS(status) && found;
}

bool RegularExpression::matchesWhole(std::string_view text) const {
    const icu::UnicodeString input = fromUtf8(text);
    const auto matcher = pattern_->matcher(input);
    if (!matcher) return false;
    UErrorCode status = U_ZERO_ERROR;
    const bool matched = matcher->matches(status);
    return U_SUCCESS(status) && matched;
}

std::optional<std::string> RegularExpression::firstMatch(std::string_view text, int group) const {
    const icu::UnicodeString input = fromUtf8(text);
    const auto matcher = pattern_->matcher(input);
    if (!matcher) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    if (!matcher->find(status) || U_FAILURE(status)) return std::nullopt;
    const icu::UnicodeString value = matcher->group(group, status);
    if (U_FAILURE(status)) return std::nullopt;
    return toUtf8(value);
}

std::vector<std::string> RegularExpression::everyMatch(std::string_view text, int group) const {
    const icu::UnicodeString input = fromUtf8(text);
    const auto matcher = pattern_->matcher(input);
    if (!matcher) return {};
    std::vector<std::string> matches;
    UErrorCode status = U_ZERO_ERROR;
    while (matcher->find(status) && U_SUCCESS(status)) {
        const icu::UnicodeString value = matcher->group(group, status);
        if (U_FAILURE(status)) break;
        matches.push_back(toUtf8(value));
    }
    return matches;
}

}  // namespace kestrane::platform
