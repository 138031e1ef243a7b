#include "platform/ProcessIdentity.h"

#include <libproc.h>
#include <sys/sysctl.h>
#include <unistd.h>

namespace kestrane::platform {

std::optional<std::string> processStartToken(pid_t pid) {
    if (pid < 1) return std::nullopt;
    kinfo_proc info{};
    size_t size = sizeof info;
    int query[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
    if (::sysctl(query, 4, &info, &size, nullptr, 0) != 0 || size == 0) return std::nullopt;
    const timeval start = info.kp_proc.p_starttime;
    return std::to_string(start.tv_sec) + "." + std::to_string(start.tv_usec);
}

std::optional<uid_t> processOwner(pid_t pid) {
    if (pid < 1) return std::nullopt;
    kinfo_proc info{};
    size_t size = sizeof info;
    int query[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
    if (::sysctl(query, 4, &info, &size, nullptr, 0) != 0 || size == 0) return std::nullopt;
    return info.kp_eproc.e_ucred.cr_uid;
}

std::optional<std::filesystem::path> currentExecutable() {
    char buffer[PROC_PIDPATHINFO_MAXSIZE];
    if (::proc_pidpath(::getpid(), buffer, sizeof buffer) <= 0) return std::nullopt;
    return std::filesystem::path(buffer);
}

}  // namespace kestrane::platform
