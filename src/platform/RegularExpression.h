#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace kestrane::platform {

// A compiled ICU regular expression over UTF-8 text. Inline flags such as (?i), \b, \s,
// non-capturing groups and $1 in replacement templates are supported; matching works on an
// explicit heap stack, so long inputs cannot overflow the thread's stack.
class RegularExpression {
  public:
    // nullopt when the pattern does not compile.
    static std::optional<RegularExpression> compile(std::string_view pattern);

    RegularExpression(RegularExpression&&) noexcept;
    RegularExpression& operator=(RegularExpression&&) noexcept;
    ~RegularExpression();

    // Replaces every match; `replacement` may refer to groups as $1. Invalid UTF-8 in `text`
    // is read as U+FFFD. On a matching failure the text comes back unchanged.
    std::string replacingMatches(std::string_view text, std::string_view replacement) const;

  private:
    explicit RegularExpression(std::unique_ptr<icu::RegexPattern> pattern);

    std::unique_ptr<icu::RegexPattern> pattern_;
};

}  // namespace kestrane::platform
