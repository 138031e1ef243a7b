#include "app/launcher/SiblingProgram.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "platform/ProcessIdentity.h"

namespace kestrane::app::SiblingProgram {
namespace {

bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::filesystem::path> locate(const std::filesystem::path& self,
                                            std::string_view name) {
    const std::filesystem::path folder = self.parent_path();
    // KESTRANE_LIBEXEC_FROM_BINDIR: the install's libexec folder relative to its bin folder.
    for (const std::filesystem::path& candidate :
         {folder / KESTRANE_LIBEXEC_FROM_BINDIR / name, folder / name}) {
        if (isExecutableFile(candidate)) return candidate.lexically_normal();
    }
    return std::nullopt;
}

int replaceProcess(std::string_view name, char** argv) {
    const auto self = platform::currentExecutable();
    const auto program = self ? locate(*self, name) : std::nullopt;
    if (program) {
        std::fflush(nullptr);
        ::execv(program->c_str(), argv);
    }
    std::cout << "Не найдена часть Kestrane (" << name << "): переустановите программу."
              << std::endl;
    return 1;
}

}  // namespace kestrane::app::SiblingProgram
