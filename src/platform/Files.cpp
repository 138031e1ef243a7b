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

std::optional<std::string> readFilePrefix(const std::filesystem::path& path, std::size_t maxBytes) {
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

namespace {

// The temporary name of an atomic write of `path`: "." + its name + "." + six characters that
// mkostemp fills in.
constexpr std::string_view kTemporarySuffix = "XXXXXX";

std::string temporaryPrefix(const std::filesystem::path& path) {
    // Appended piece by piece: GCC 12's optimiser warns (-Wrestrict) about the overlap it
    // imagines in "." + std::string&&.
    std::string prefix = ".";
    prefix += path.filename().string();
    prefix += '.';
    return prefix;
}

bool isTemporaryName(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + kTemporarySuffix.size()) return false;
    if (name.substr(0, prefix.size()) != prefix) return false;
    for (const char c : name.substr(prefix.size())) {
        const bool alphanumeric =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alphanumeric) return false;
    }
    return true;
}

}  // namespace

int writeFileAtomically(const std::filesystem::path& path, std::string_view data,
                        std::filesystem::perms permissions) {
    std::string temporary =
        (path.parent_path() / (temporaryPrefix(path) + std::string(kTemporarySuffix))).string();
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

std::size_t removeAtomicWriteLeftovers(const std::filesystem::path& path) {
    const std::string prefix = temporaryPrefix(path);
    const auto folder =
        path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    std::size_t removed = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!isTemporaryName(name, prefix)) continue;
        // Only plain files; a link or folder of that name is not ours.
        std::error_code statusError;
        if (!std::filesystem::is_regular_file(entry->symlink_status(statusError))) continue;
        if (::unlink(entry->path().c_str()) == 0) ++removed;
    }
    return removed;
}

}  // namespace kestrane::platform
