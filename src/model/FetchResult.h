#pragma once

#include <string>
#include <variant>

#include "model/Account.h"
#include "model/OutsideText.h"
#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"

namespace kestrane::model {

// Outcome of fetching one account of a provider.
class FetchResult {
  public:
    struct Failure {
        ProviderKind provider;
        // The localized description of whatever the client threw.
        std::string message;
        // Which account failed (AccountKey::id): empty for the default one.
        std::string accountID;
        bool operator==(const Failure&) const = default;
    };

    static FetchResult success(ProviderUsage usage) { return FetchResult(std::move(usage)); }
    // The message may quote a server or another program, so it is sanitised like any
    // outside text: it always stays on one line.
    static FetchResult failure(ProviderKind provider, std::string message) {
        return FetchResult(Failure{provider, sanitizedText(message), {}});
    }
    static FetchResult failure(const AccountKey& account, std::string message) {
        return FetchResult(Failure{account.provider, sanitizedText(message), account.id});
    }

    bool isSuccess() const { return std::holds_alternative<ProviderUsage>(value_); }
    // The usage's provider for a success, the failed kind for a failure.
    ProviderKind provider() const {
        return isSuccess() ? usage().provider : failureValue().provider;
    }
    AccountKey account() const {
        return isSuccess() ? AccountKey{usage().provider, usage().accountID}
                           : AccountKey{failureValue().provider, failureValue().accountID};
    }
    const ProviderUsage& usage() const { return std::get<ProviderUsage>(value_); }
    const Failure& failureValue() const { return std::get<Failure>(value_); }

    bool operator==(const FetchResult&) const = default;

  private:
    explicit FetchResult(std::variant<ProviderUsage, Failure> value) : value_(std::move(value)) {}

    std::variant<ProviderUsage, Failure> value_;
};

}  // namespace kestrane::model
