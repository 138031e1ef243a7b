#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "app/StatusPublisher.h"
#include "app/StatusSnapshot.h"
#include "platform/Calendar.h"
#include "platform/Environment.h"

namespace kestrane::app {

// The running application's state in $XDG_RUNTIME_DIR/kestrane/status.json: rewritten
// atomically (never half-written for a reader), readable by the user alone, removed at exit.
// `kestrane --status` reads it without starting anything or asking any server.
class StatusFile final : public StatusPublisher {
  public:
    // Without $XDG_RUNTIME_DIR (an absolute path) there is no place for it.
    static std::optional<std::filesystem::path> location(const platform::Environment& environment);
    // The session's file, or nothing without a runtime folder.
    static std::shared_ptr<StatusFile> forSession(const platform::Environment& environment);

    StatusFile(std::filesystem::path path, platform::Calendar calendar);

    void publish(const std::vector<model::ProviderKind>& enabled,
                 const std::map<model::ProviderKind, ProviderState>& states,
                 const UsageHistory& history, platform::Date now) override;
    void withdraw() override;

    // The snapshot of a running instance: nothing when there is no file, it cannot be read,
    // or the process that wrote it is gone (its pid now another process's or nobody's).
    static std::optional<StatusSnapshot> readLive(const std::filesystem::path& path);

  private:
    std::filesystem::path path_;
    platform::Calendar calendar_;
};

}  // namespace kestrane::app
