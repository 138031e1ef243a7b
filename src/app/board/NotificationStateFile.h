#pragma once

#include <filesystem>
#include <string>

#include "app/board/UsageNotifications.h"

namespace kestrane::app {

// The last notified state on disk, beside the usage history
// ("Kestrane/notification-state-v1.json"). A missing, unreadable or foreign file reads as
// empty, which only means no window is told about until it changes again; saving replaces
// the file atomically and a failure is silent (notifications are a courtesy).
class NotificationStateFile {
  public:
    static constexpr std::size_t maximumBytes = 256 * 1024;
    static constexpr std::string_view fileName = "notification-state-v1.json";

    explicit NotificationStateFile(std::filesystem::path path) : path_(std::move(path)) {}

    // The file beside the history file.
    static NotificationStateFile besideHistory(const std::filesystem::path& historyFile);

    NotifiedState load() const;
    // Returns whether the file was written.
    bool save(const NotifiedState& state) const;

    const std::filesystem::path& path() const { return path_; }

    static std::string encode(const NotifiedState& state);
    // Anything but a whole, well-formed document gives an empty state.
    static NotifiedState decode(std::string_view text);

  private:
    std::filesystem::path path_;
};

}  // namespace kestrane::app
