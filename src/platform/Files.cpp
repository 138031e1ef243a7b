#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrane::platform {

std::optional<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> result;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        std::string data;
        char buffer[16384];
        bool ok = true;
        for (;;) {
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) {
                ok = false;
                break;
            }
            if (count == 0) break;
            if (data.size() + static_cast<std::size_t>(count) > maxBytes) {
                ok = false;
                break;
            }
            data.append(buffer, static_cast<std::size_t>(count));
        }
        if (ok) result = std::move(data);
    }
    ::close(fd);
    return result;
}

}  // namespace kestrane::platform
