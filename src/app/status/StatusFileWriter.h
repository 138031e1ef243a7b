#pragma once

#include <filesystem>
#include <memory>

#include "app/status/StatusPublisher.h"
#include "app/status/StatusSnapshot.h"
#include "platform/Clock.h"
#include "platform/Environment.h"

namespace kestrane::app {

// Leaves the running application's state where StatusFile finds it: rewritten atomically
// (a reader never sees half a file), readable by the user alone, removed at exit. The
// forecasts are the board's, made once per refresh from the history the application holds
// in memory, so that `kestrane --status` neither reads the history nor simulates anything.
class StatusFileWriter final : public StatusPublisher {
  public:
    // The session's file, or nothing without a runtime folder.
    static std::shared_ptr<StatusFileWriter> forSession(const platform::Environment& environment,
                                                        const platform::Clock& clock);

    StatusFileWriter(std::filesystem::path path, const platform::Clock& clock);

    void boardChanged(const std::shared_ptr<const BoardSnapshot>& snapshot) override;
    void withdraw() override;

    // What the file says of a board, written at `now`.
    static StatusSnapshot snapshotOf(const BoardSnapshot& board, platform::Date now);

  private:
    std::filesystem::path path_;
    const platform::Clock& clock_;
};

}  // namespace kestrane::app
