#pragma once

#include <string>

#include "platform/LocalizedError.h"

namespace kestrane::model {

// The error provider clients throw for what they detect themselves. what() is the complete
// Russian message shown to the user, for every kind.
class QuotaError : public platform::LocalizedError {
  public:
    enum class Kind {
        // The provider cannot be asked: not installed, signed out, refused, not running.
        unavailable,
        // The provider answered, but the answer cannot be understood.
        invalidResponse,
        // The provider did not answer in time.
        timeout,
    };

    static QuotaError unavailable(const std::string& message) {
        return {Kind::unavailable, message};
    }
    static QuotaError invalidResponse(const std::string& message) {
        return {Kind::invalidResponse, message};
    }
    static QuotaError timeout(const std::string& message) { return {Kind::timeout, message}; }

    Kind kind() const { return kind_; }
    std::string message() const { return what(); }

  private:
    QuotaError(Kind kind, const std::string& message) : LocalizedError(message), kind_(kind) {}

    Kind kind_;
};

}  // namespace kestrane::model
