#pragma once

#include <filesystem>
#include <optional>

namespace kestrane::app::DesktopLauncher {

// The tray application is its own program, kestrane-desktop, so that the command-line modes
// never load the desktop libraries: installed under libexec, or beside this program in a
// build folder. Nothing when neither is there.
std::optional<std::filesystem::path> desktopProgram(const std::filesystem::path& self);

// Replaces this process with the tray application, keeping its pid and arguments. Returns
// only when that fails, after printing why; the result is the exit status.
int run(char** argv);

}  // namespace kestrane::app::DesktopLauncher
