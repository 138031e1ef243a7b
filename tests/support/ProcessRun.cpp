#include "support/ProcessRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace kestrane::testing {

namespace {

// posix_spawn of `program` with exactly these arguments and environment; 0 when it failed.
pid_t spawn(const std::string& program, const std::vector<std::string>& arguments,
            const std::map<std::string, std::string>& environment,
            const posix_spawn_file_actions_t& actions) {
    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : argvStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : environment) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        return 0;
    }
    return pid;
}

}  // namespace

ProcessOutput runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::milliseconds limit) {
    ProcessOutput output;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return output;
    if (pipe2(errPipe, O_CLOEXEC) != 0) return output;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

    const pid_t pid = spawn(program, arguments, environment, actions);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid == 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return output;
    }

    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::array<pollfd, 2> fds{{{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}}};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? output.standardOutput : output.standardError).append(buffer, n);
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds) {
        if (fd.fd >= 0) close(fd.fd);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    output.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

BackgroundProcess::BackgroundProcess(const std::string& program,
                                     const std::vector<std::string>& arguments,
                                     const std::map<std::string, std::string>& environment) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const pid_t pid = spawn(program, arguments, environment, actions);
    posix_spawn_file_actions_destroy(&actions);
    if (pid == 0) return;
    pid_ = pid;
    // A descriptor that becomes readable when the process ends, to wait on with a limit.
    pidDescriptor_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
}

BackgroundProcess::~BackgroundProcess() { stop(); }

int BackgroundProcess::reap() {
    if (!exitStatus_) {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (pidDescriptor_ >= 0) close(pidDescriptor_);
        pidDescriptor_ = -1;
    }
    return *exitStatus_;
}

int BackgroundProcess::stop() {
    if (pid_ <= 0) return -1;
    if (!exitStatus_) kill(pid_, SIGTERM);
    return reap();
}

std::optional<std::size_t> BackgroundProcess::firstToEnd(
    const std::vector<BackgroundProcess*>& processes, std::chrono::milliseconds limit,
    int& exitStatus) {
    std::vector<pollfd> fds;
    for (const BackgroundProcess* process : processes) {
        if (process->pidDescriptor_ < 0) return std::nullopt;
        fds.push_back({process->pidDescriptor_, POLLIN, 0});
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        const int ready = poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) return std::nullopt;
        for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP)) {
                exitStatus = processes[i]->reap();
                return i;
            }
        }
    }
}

std::string kestraneExecutable() { return KESTRANE_EXECUTABLE; }

}  // namespace kestrane::testing
