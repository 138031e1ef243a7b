#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::platform {

// A compiled ICU regular expression over UTF-8 text. Inline flags such as (?i), \b, \s,
// non-capturing groups and $1 in replacement templates are supported; matching works on an
// explicit heap stack, so long inputs cannot overflow the thread's stack. Invalid UTF-8 in a
// text is read as U+FFFD. Immutable: one compiled expression may serve several threads.
class RegularExpression {
  public:
    // nullopt when the pattern does not compile.
    static std::optional<RegularExpression> compile(std::string_view pattern);

    RegularExpression(RegularExpression&&) noexcept;
    RegularExpression& operator=(RegularExpression&&) noexcept;
    ~RegularExpression();

    // Replaces every match; `replacement` may refer to groups as $1. On a matching failure
    // the text comes back unchanged.
    std::string replacingMatches(std::string_view text, std::string_view replacement) const;

    // Whether the expression matches somewhere in `text`.
    bool isFoundIn(std::string_view text) const;
    // Whether it matches all of `text`: a "$" at its end does not accept a final line break.
    bool matchesWhole(std::string_view text) const;
    // Group `group` (0: the whole match) of the first match; nullopt without a match.
    std::optional<std::string> firstMatch(std::string_view text, int group = 0) const;
    // Group `group` of every match, in order.
    std::vector<std::string> everyMatch(std::string_view text, int group = 0) const;

  private:
    struct Pattern;
    explicit RegularExpression(std::unique_ptr<Pattern> pattern);

    std::unique_ptr<Pattern> pattern_;
};

}  // namespace kestrane::platform
