#pragma once

#include <filesystem>
#include <memory>

#include "app/status/StatusPublisher.h"
#include "platform/Calendar.h"
#include "platform/Environment.h"

namespace kestrane::app {

// Leaves the running application's state where StatusFile finds it: rewritten atomically
// (a reader never sees half a file), readable by the user alone, removed at exit. The
// forecasts are made here, once per refresh, from the history the application holds in
// memory, so that `kestrane --status` neither reads the history nor simulates anything.
class StatusFileWriter final : public StatusPublisher {
  public:
    // The session's file, or nothing without a runtime folder.
    static std::shared_ptr<StatusFileWriter> forSession(const platform::Environment& environment);

    StatusFileWriter(std::filesystem::path path, platform::Calendar calendar);

    void publish(const std::vector<model::ProviderKind>& enabled,
                 const std::map<model::ProviderKind, ProviderState>& states,
                 const UsageHistory& history, platform::Date now) override;
    void withdraw() override;

  private:
    std::filesystem::path path_;
    platform::Calendar calendar_;
};

}  // namespace kestrane::app
