#pragma once

#include <exception>
#include <string>

#include "platform/LocalizedError.h"

namespace kestrane::localservices {

// Why a scan or a stop did not happen. what() is the Russian message shown on the services
// screen as it stands.
class LocalServiceMonitorError : public platform::LocalizedError {
  public:
    enum class Kind {
        signalFailed,
        scanFailed,
        noLongerListening,
        noLongerRunning,
        processChanged,
        protectedProcess,
        toolTimedOut,
    };

    // `systemError` is the system's description of why the signal could not be sent.
    static LocalServiceMonitorError signalFailed(const std::string& systemError);
    static LocalServiceMonitorError scanFailed();
    static LocalServiceMonitorError noLongerListening();
    static LocalServiceMonitorError noLongerRunning();
    static LocalServiceMonitorError processChanged();
    static LocalServiceMonitorError protectedProcess();
    // `tool` (lsof, ps) gave no answer within `seconds` and was stopped.
    static LocalServiceMonitorError toolTimedOut(const std::string& tool, int seconds);

    Kind kind() const { return kind_; }

    bool operator==(const LocalServiceMonitorError& other) const {
        return kind_ == other.kind_ && std::string(what()) == other.what();
    }

  private:
    LocalServiceMonitorError(Kind kind, const std::string& message)
        : LocalizedError(message), kind_(kind) {}

    Kind kind_;
};

// What the user reads for anything a scan or a stop threw: its own Russian text, else the
// scan's general failure.
std::string describeServicesFailure(const std::exception_ptr& failure);

}  // namespace kestrane::localservices
