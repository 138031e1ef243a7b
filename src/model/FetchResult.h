#pragma once

#include <string>
#include <variant>

#include "model/OutsideText.h"
#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"

namespace kestrane::model {

// Outcome of fetching one provider.
class FetchResult {
  public:
    struct Failure {
        ProviderKind provider;
        // The localized description of whatever the client threw.
        std::string message;
        bool operator==(const Failure&) const = default;
    };

    static FetchResult success(ProviderUsage usage) { return FetchResult(std::move(usage)); }
    // The message may quote a server or another program, so it is sanitised like any
    // outside text: it always stays on one line.
    static FetchResult failure(ProviderKind provider, std::string message) {
        return FetchResult(Failure{provider, sanitizedText(message)});
    }

    bool isSuccess() const { return std::holds_alternative<ProviderUsage>(value_); }
    // The usage's provider for a success, the failed kind for a failure.
    ProviderKind provider() const {
        return isSuccess() ? usage().provider : failureValue().provider;
    }
    const ProviderUsage& usage() const { return std::get<ProviderUsage>(value_); }
    const Failure& failureValue() const { return std::get<Failure>(value_); }

    bool operator==(const FetchResult&) const = default;

  private:
    explicit FetchResult(std::variant<ProviderUsage, Failure> value) : value_(std::move(value)) {}

    std::variant<ProviderUsage, Failure> value_;
};

}  // namespace kestrane::model
