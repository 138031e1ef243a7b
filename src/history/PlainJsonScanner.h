#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <system_error>

namespace kestrane::history {

// The archives this program writes take nearly all of their reading time in the general JSON
// parser's tokenizer (character by character, with every number through strtod). This scanner
// takes the plain subset of JSON our writer produces: strings of printable ASCII without
// escapes, numbers of at most 18 integer digits or within double range, the usual whitespace.
// It hands the same events as nlohmann::json::sax_parse to `Handler` (with std::string_view
// for keys and strings, and floating() for doubles). Whenever it meets anything outside that
// subset, or the text is not a valid archive, it gives up and the general parser reads the
// whole text again, so every verdict on an unusual or broken file is the general parser's.
template <typename Handler>
class PlainJsonScanner {
  public:
    PlainJsonScanner(std::string_view text, Handler& handler)
        : p_(text.data()), end_(text.data() + text.size()), reader_(handler) {}

    // True when the whole text was one value of the subset and the handler took every event.
    bool run() {
        skipSpace();
        if (!value()) return false;
        skipSpace();
        return p_ == end_;
    }

  private:
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    void skipSpace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    bool value() {
        if (p_ == end_) return false;
        switch (*p_) {
            case '{':
                return object();
            case '[':
                return array();
            case '"': {
                std::string_view text;
                return string(text) && reader_.text(text);
            }
            case 't':
                return literal("true") && reader_.boolean(true);
            case 'f':
                return literal("false") && reader_.boolean(false);
            case 'n':
                return literal("null") && reader_.null();
            default:
                return number();
        }
    }

    bool literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - p_) < word.size() ||
            std::string_view(p_, word.size()) != word) {
            return false;
        }
        p_ += word.size();
        return true;
    }

    bool object() {
        ++p_;
        if (!reader_.start_object(0)) return false;
        skipSpace();
        if (p_ != end_ && *p_ == '}') {
            ++p_;
            return reader_.end_object();
        }
        for (;;) {
            std::string_view name;
            if (p_ == end_ || *p_ != '"' || !string(name) || !reader_.key(name)) return false;
            skipSpace();
            if (p_ == end_ || *p_ != ':') return false;
            ++p_;
            skipSpace();
            if (!value()) return false;
            skipSpace();
            if (p_ == end_) return false;
            if (*p_ == '}') {
                ++p_;
                return reader_.end_object();
            }
            if (*p_ != ',') return false;
            ++p_;
            skipSpace();
        }
    }

    bool array() {
        ++p_;
        if (!reader_.start_array(0)) return false;
        skipSpace();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            return reader_.end_array();
        }
        for (;;) {
            if (!value()) return false;
            skipSpace();
            if (p_ == end_) return false;
            if (*p_ == ']') {
                ++p_;
                return reader_.end_array();
            }
            if (*p_ != ',') return false;
            ++p_;
            skipSpace();
        }
    }

    // Printable ASCII only: escapes, control characters and UTF-8 are left to the full parser.
    bool string(std::string_view& out) {
        const char* begin = ++p_;
        while (p_ != end_) {
            const char c = *p_;
            if (c == '"') {
                out = std::string_view(begin, static_cast<std::size_t>(p_ - begin));
                ++p_;
                return true;
            }
            if (c < 0x20 || c > 0x7E || c == '\\') return false;
            ++p_;
        }
        return false;
    }

    // The JSON number grammar exactly. Like the general parser, a number without fraction or
    // exponent is an integer, signed when it has a minus sign; the rest are doubles, rounded
    // correctly by from_chars as by strtod.
    bool number() {
        const char* begin = p_;
        const bool negative = *p_ == '-';
        if (negative) ++p_;
        if (p_ == end_) return false;
        if (*p_ == '0') {
            ++p_;
        } else if (*p_ >= '1' && *p_ <= '9') {
            while (p_ != end_ && isDigit(*p_)) ++p_;
        } else {
            return false;
        }
        const char* integerEnd = p_;
        bool integral = true;
        if (p_ != end_ && *p_ == '.') {
            ++p_;
            if (p_ == end_ || !isDigit(*p_)) return false;
            while (p_ != end_ && isDigit(*p_)) ++p_;
            integral = false;
        }
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (p_ == end_ || !isDigit(*p_)) return false;
            while (p_ != end_ && isDigit(*p_)) ++p_;
            integral = false;
        }
        if (integral) {
            const char* digit = begin + (negative ? 1 : 0);
            // Longer ones might not fit in 64 bits; the general parser has rules for those.
            if (integerEnd - digit > 18) return false;
            std::int64_t value = 0;
            for (; digit != integerEnd; ++digit) value = value * 10 + (*digit - '0');
            return negative ? reader_.number_integer(-value)
                            : reader_.number_unsigned(static_cast<std::uint64_t>(value));
        }
        double value = 0;
        const auto result = std::from_chars(begin, p_, value);
        // Out of range (overflow or underflow) is the general parser's call.
        if (result.ec != std::errc() || result.ptr != p_) return false;
        return reader_.floating(value);
    }

    const char* p_;
    const char* end_;
    Handler& reader_;
};

}  // namespace kestrane::history
