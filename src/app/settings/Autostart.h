#pragma once

#include <filesystem>
#include <string>

#include "app/settings/StartAtLogin.h"
#include "platform/Environment.h"
#include "platform/LocalizedError.h"

namespace kestrane::app {

// Writing or removing the login entry failed; what() is a Russian sentence for the settings.
class AutostartError : public platform::LocalizedError {
  public:
    using platform::LocalizedError::LocalizedError;
};

// Starting Kestrane when the user logs in, through the desktop's XDG autostart folder:
// `<configuration folder>/autostart/kestrane.desktop`. The entry starts `executable`, so it
// keeps working whatever PATH the session has.
class Autostart final : public StartAtLogin {
  public:
    static constexpr std::string_view entryFileName = "kestrane.desktop";

    // `configurationDirectory` is $XDG_CONFIG_HOME or ~/.config; `executable` is an absolute path.
    Autostart(std::filesystem::path configurationDirectory, std::filesystem::path executable);
    static Autostart forUser(const platform::Environment& environment,
                             std::filesystem::path executable);

    const std::filesystem::path& entryPath() const { return entryPath_; }

    // True when an entry exists and the desktop would start it: another tool (or the user)
    // may have left it there with Hidden=true or X-GNOME-Autostart-enabled=false.
    bool isEnabled() const override;

    // Writes the entry (replacing whatever was there, in one rename) or removes it. Throws
    // AutostartError when the folder or the file cannot be written.
    void setEnabled(bool enabled) const override;

    // The entry's text for this executable. Throws AutostartError for a path a desktop entry
    // cannot carry (relative, or with control characters).
    static std::string entryText(const std::filesystem::path& executable);

  private:
    std::filesystem::path executable_;
    std::filesystem::path entryPath_;
};

}  // namespace kestrane::app
