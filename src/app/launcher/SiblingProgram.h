#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace kestrane::app::SiblingProgram {

// `kestrane` itself only reads its command line and the running application's state, so that
// `--status` starts in a few milliseconds. The work lives in programs of their own:
// kestrane-cli (probe, services; network, ICU, SQLite) and kestrane-desktop (the tray
// application, Qt). Installed, they are under libexec; in a build folder, beside `kestrane`.
inline constexpr std::string_view commandLineTools = "kestrane-cli";
inline constexpr std::string_view desktopApplication = "kestrane-desktop";

// The program `name` for a `kestrane` at `self`; nothing when neither place has it.
std::optional<std::filesystem::path> locate(const std::filesystem::path& self,
                                            std::string_view name);

// Replaces this process with the program `name`, keeping the pid and the arguments (argv[0]
// too, so the desktop knows itself as "kestrane"). Returns only when that fails, after
// printing why; the result is then the exit status.
int replaceProcess(std::string_view name, char** argv);

}  // namespace kestrane::app::SiblingProgram
