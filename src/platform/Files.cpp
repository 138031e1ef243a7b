#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

std::optional<std::string> readFilePrefix(const std::filesystem::path& path,
                                          std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> result;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        std::string data(maxBytes, '\0');
        std::size_t filled = 0;
        while (filled < maxBytes) {
            const ssize_t count = ::read(fd, data.data() + filled, maxBytes - filled);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) break;
            filled += static_cast<std::size_t>(count);
        }
        data.resize(filled);
        result = std::move(data);
    }
    ::close(fd);
    return result;
}

int writeFileAtomically(const std::filesystem::path& path, std::string_view data,
                        std::filesystem::perms permissions) {
    std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    int error = 0;
    if (::fchmod(fd, static_cast<mode_t>(permissions)) != 0) error = errno;
    for (std::size_t written = 0; error == 0 && written < data.size();) {
        const ssize_t count = ::write(fd, data.data() + written, data.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            error = errno;
            break;
        }
        written += static_cast<std::size_t>(count);
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(temporary.c_str());
    return error;
}

}  // namespace kestrane::platform
