#include "app/DesktopLauncher.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "platform/ProcessIdentity.h"

namespace kestrane::app::DesktopLauncher {
namespace {

bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::filesystem::path> desktopProgram(const std::filesystem::path& self) {
    const std::filesystem::path folder = self.parent_path();
    for (const std::filesystem::path& candidate :
         {folder / KESTRANE_DESKTOP_FROM_BINDIR, folder / "kestrane-desktop"}) {
        if (isExecutableFile(candidate)) return candidate.lexically_normal();
    }
    return std::nullopt;
}

int run(char** argv) {
    const auto self = platform::currentExecutable();
    const auto program = self ? desktopProgram(*self) : std::nullopt;
    if (program) {
        std::fflush(nullptr);
        ::execv(program->c_str(), argv);
    }
    std::cout << "Не найдена графическая часть Kestrane (kestrane-desktop): переустановите "
                 "программу. Команды --probe, --status и --services работают и без неё."
              << std::endl;
    return 1;
}

}  // namespace kestrane::app::DesktopLauncher
