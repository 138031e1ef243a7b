#include "localservices/LocalServiceCommandDisplay.h"

#include <optional>
#include <vector>

#include "localservices/LocalServiceClassifier.h"
#include "platform/RegularExpression.h"
#include "platform/UnicodeText.h"

namespace kestrane::localservices::LocalServiceCommandDisplay {
namespace {

// Compiled once; a pattern the engine refuses is left out rather than failing every call.
const std::vector<platform::RegularExpression>& compiledPatterns() {
    static const std::vector<platform::RegularExpression> patterns = [] {
        std::vector<platform::RegularExpression> compiled;
        for (const auto pattern : secretPatterns) {
            if (auto expression = platform::RegularExpression::compile(pattern)) {
                compiled.push_back(std::move(*expression));
            }
        }
        return compiled;
    }();
    return patterns;
}

// Every masking pattern needs one of these words (in any letter case). Most command lines
// hold none of them, and skipping the case-insensitive matching saves most of a scan's time.
// Only pure ASCII is judged here: Unicode case folding maps a few other letters (the Kelvin
// sign, the long s) onto these, so anything else goes to the patterns themselves.
bool mayHoldSecrets(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (static_cast<unsigned char>(c) >= 0x80) return true;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const std::string_view word : {"key", "token", "password", "passwd", "secret", "bearer"}) {
        if (lower.find(word) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

std::string readableName(std::string_view processCommand, std::string_view fallback) {
    const auto name = LocalServiceClassifier::lastPathComponent(
        LocalServiceClassifier::firstToken(processCommand));
    return std::string(name.empty() ? fallback : name);
}

std::string redact(std::string_view command) {
    std::string text = platform::decodeUtf8Leniently(command);
    if (mayHoldSecrets(text)) {
        for (const auto& pattern : compiledPatterns()) {
            text = pattern.replacingMatches(text, maskTemplate);
        }
    }
    // A character takes at least one byte, so short texts need no counting.
    if (text.size() <= maximumLength ||
        platform::characterCount(text, maximumLength + 1) <= maximumLength) {
        return text;
    }
    return platform::characterPrefix(text, maximumLength - 3) + "...";
}

}  // namespace kestrane::localservices::LocalServiceCommandDisplay
