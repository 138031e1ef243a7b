#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "model/ProviderUsage.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "platform/LocalizedError.h"

// Shared by the fuzz harnesses. A harness passes every input to one parser of outside data.
// The parser may reject the input, but only with a LocalizedError (a Russian text the user
// can be shown); any other exception escapes the harness and libFuzzer reports it as a crash,
// like the faults the sanitizers catch.
namespace kestrane::fuzz {

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

template <typename Action>
void rejectingOnlyWithLocalizedErrors(Action action) {
    try {
        action();
    } catch (const platform::LocalizedError&) {
    }
}

// Aborts (so libFuzzer keeps the input) when a parsed usage breaks what every consumer
// relies on: shares on the 0-100 scale and never NaN, window lengths not negative.
inline void checkUsage(const model::ProviderUsage& usage) {
    for (const auto& window : usage.windows) {
        if (!(window.usedPercent >= 0 && window.usedPercent <= 100)) std::abort();
        if (window.durationMinutes && *window.durationMinutes < 0) std::abort();
        if (window.resetsAt && !std::isfinite(window.resetsAt->secondsSince1970)) std::abort();
    }
    for (const auto* money : {&usage.spendUsed, &usage.spendLimit}) {
        if (*money && std::isnan(**money)) std::abort();
    }
}

class FixedClock final : public platform::Clock {
  public:
    platform::Date now() const override { return platform::Date{1'765'000'000}; }
};

// Answers every request with the fuzz input as a 200 body, so a client's own answer handling
// runs without a network.
class AnsweringHttpClient final : public platform::HttpClient {
  public:
    explicit AnsweringHttpClient(std::string_view body) : body_(body) {}
    std::optional<platform::HttpResponse> send(const platform::HttpRequest&) const override {
        return platform::HttpResponse{200, std::string(body_)};
    }

  private:
    std::string_view body_;
};

}  // namespace kestrane::fuzz
