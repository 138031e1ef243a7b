#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace kestrane::platform {

// Text from other programs may hold invalid UTF-8; every ill-formed sequence becomes U+FFFD
// so that the rest stays readable. Valid input comes back unchanged.
std::string decodeUtf8Leniently(std::string_view bytes);
// Whether `bytes` holds no ill-formed sequence: no stray or cut-off bytes, overlong forms,
// surrogates or code points past U+10FFFF.
bool isValidUtf8(std::string_view bytes);

// Unicode White_Space: the ASCII blanks and also the no-break, ideographic, en, em and the
// other typographic spaces, which command lines of other programs may carry.
bool isWhiteSpace(char32_t c);

// The next run of non-white-space characters of UTF-8 `text` at or after byte `from`, as byte
// offsets [first, second); first == text.size() when no word is left. Ill-formed bytes
// belong to words.
std::pair<std::size_t, std::size_t> nextWord(std::string_view text, std::size_t from);

// Unicode lower case, the same in every locale ("İ" and "I" too): texts from services and
// other programs are compared with it, never with the C library's tolower.
std::string lowercased(std::string_view text);

// An account's e-mail as accounts are told apart: without the white space and line breaks
// around it, in lower case. Account digests in the history file are made from it, so its
// result must never change for a given input.
std::string normalisedEmail(std::string_view email);

// Letters and digits in lower case (with the accents that follow them), every other run of
// characters as one "-": an identifier made from a display name ("Café Ñ 2" → "café-ñ-2").
std::string slugged(std::string_view text);

// User-perceived characters (grapheme clusters), so that a cut never splits a letter, a
// Cyrillic one included, or a letter from its accents. Counting stops at `stopAfter`.
std::size_t characterCount(std::string_view text, std::size_t stopAfter = SIZE_MAX);
// The first `count` characters of `text` (all of it when shorter).
std::string characterPrefix(std::string_view text, std::size_t count);

// Compares texts the way the user's language sorts them, ignoring letter case.
// Built once per sort; compare() is safe to call from several threads.
class CaseInsensitiveCollator {
  public:
    // The user's default locale; a locale ICU cannot load compares by code points.
    CaseInsensitiveCollator();
    ~CaseInsensitiveCollator();
    CaseInsensitiveCollator(const CaseInsensitiveCollator&) = delete;
    CaseInsensitiveCollator& operator=(const CaseInsensitiveCollator&) = delete;

    // Negative, zero or positive like strcmp.
    int compare(std::string_view a, std::string_view b) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrane::platform
