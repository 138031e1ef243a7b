#pragma once

#include <stdexcept>
#include <string>

namespace kestrane::platform {

// Base of every error whose what() is a complete Russian sentence fit to show the user.
// Anything else that escapes a provider is shown as a generic Russian text instead.
class LocalizedError : public std::runtime_error {
  public:
    explicit LocalizedError(const std::string& description) : std::runtime_error(description) {}
};

// The network layer could not complete a request (no route, time-out, TLS failure...).
class TransportError : public LocalizedError {
  public:
    using LocalizedError::LocalizedError;
};

// Data from outside was not valid JSON or did not have the expected shape.
class DecodingError : public LocalizedError {
  public:
    DecodingError();
};

}  // namespace kestrane::platform
