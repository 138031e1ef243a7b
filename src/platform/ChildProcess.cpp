#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <thread>
#include <utility>

extern char** environ;

namespace kestrane::platform {
namespace {

void closeDescriptor(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

struct SpawnAttributes {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;

    SpawnAttributes() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnAttributes() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

}  // namespace

std::string describeSystemError(int error) {
    switch (error) {
        case ENOENT:
            return "Файл не найден.";
        case EACCES:
        case EPERM:
            return "Нет прав доступа.";
        case ENOEXEC:
            return "Файл не является исполняемой программой.";
        case ENOTDIR:
            return "Часть пути не является папкой.";
        case EISDIR:
            return "Указана папка, а не файл.";
        case ELOOP:
            return "Слишком много символических ссылок в пути.";
        case ENAMETOOLONG:
            return "Слишком длинный путь.";
        case ENOMEM:
            return "Недостаточно памяти.";
        case EMFILE:
        case ENFILE:
            return "Открыто слишком много файлов.";
        case EAGAIN:
            return "Ресурс временно недоступен.";
        case ETXTBSY:
            return "Файл занят.";
        case ENOSPC:
            return "На диске нет свободного места.";
        case EROFS:
            return "Файловая система доступна только для чтения.";
        case E2BIG:
            return "Слишком длинный список аргументов.";
        case EPIPE:
            return "Канал закрыт.";
        case EIO:
            return "Ошибка ввода-вывода.";
        case ESRCH:
            return "Такого процесса нет.";
        default:
            return "Системная ошибка " + std::to_string(error) + ".";
    }
}

LaunchError::LaunchError(int error) : LocalizedError(describeSystemError(error)), error_(error) {}

ChildProcess ChildProcess::start(const std::filesystem::path& executable,
                                 const std::vector<std::string>& arguments,
                                 const ChildOptions& options) {
    int inputPipe[2] = {-1, -1};
    int outputPipe[2] = {-1, -1};
    const auto closeAll = [&] {
        for (int* fd : {&inputPipe[0], &inputPipe[1], &outputPipe[0], &outputPipe[1]}) {
            closeDescriptor(*fd);
        }
    };
    if (options.pipeInput && ::pipe2(inputPipe, O_CLOEXEC) != 0) throw LaunchError(errno);
    if (options.pipeOutput && ::pipe2(outputPipe, O_CLOEXEC) != 0) {
        const int error = errno;
        closeAll();
        throw LaunchError(error);
    }

    SpawnAttributes spawn;
    if (options.pipeInput) posix_spawn_file_actions_adddup2(&spawn.actions, inputPipe[0], 0);
    if (options.pipeOutput) {
        posix_spawn_file_actions_adddup2(&spawn.actions, outputPipe[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&spawn.actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&spawn.actions, 2, "/dev/null", O_WRONLY, 0);
    // Descriptors opened without O_CLOEXEC elsewhere (libraries) must not leak into the child.
    posix_spawn_file_actions_addclosefrom_np(&spawn.actions, 3);
    std::string directory;
    if (options.workingDirectory) {
        directory = options.workingDirectory->string();
        posix_spawn_file_actions_addchdir_np(&spawn.actions, directory.c_str());
    }

    // This process ignores SIGPIPE; the child gets the default handling and an empty mask.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigset_t emptyMask;
    sigemptyset(&emptyMask);
    posix_spawnattr_setsigdefault(&spawn.attributes, &defaults);
    posix_spawnattr_setsigmask(&spawn.attributes, &emptyMask);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (options.ownProcessGroup) {
        posix_spawnattr_setpgroup(&spawn.attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&spawn.attributes, flags);

    // The inherited environment, with PATH replaced when asked.
    std::vector<std::string> environmentStorage;
    std::vector<char*> environment;
    char** envp = environ;
    if (options.searchPath) {
        for (char** entry = environ; *entry; ++entry) {
            if (std::string_view(*entry).starts_with("PATH=")) continue;
            environmentStorage.emplace_back(*entry);
        }
        environmentStorage.push_back("PATH=" + *options.searchPath);
        for (auto& entry : environmentStorage) environment.push_back(entry.data());
        environment.push_back(nullptr);
        envp = environment.data();
    }

    std::string program = executable.string();
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (auto& argument : storage) argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int result =
        posix_spawn(&pid, program.c_str(), &spawn.actions, &spawn.attributes, argv.data(), envp);
    closeDescriptor(inputPipe[0]);
    closeDescriptor(outputPipe[1]);
    if (result != 0) {
        closeAll();
        throw LaunchError(result);
    }
    return ChildProcess(pid, inputPipe[1], outputPipe[0], options.ownProcessGroup);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::exchange(other.input_, -1)),
      output_(std::exchange(other.output_, -1)),
      reaped_(other.reaped_),
      group_(other.group_),
      status_(other.status_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        release();
        pid_ = std::exchange(other.pid_, -1);
        input_ = std::exchange(other.input_, -1);
        output_ = std::exchange(other.output_, -1);
        reaped_ = other.reaped_;
        group_ = other.group_;
        status_ = other.status_;
    }
    return *this;
}

ChildProcess::~ChildProcess() { release(); }

void ChildProcess::release() {
    stop();
    closeOutput();
}

void ChildProcess::closeInput() { closeDescriptor(input_); }
void ChildProcess::closeOutput() { closeDescriptor(output_); }

bool ChildProcess::isRunning() {
    if (pid_ <= 0 || reaped_) return false;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == pid_ || (result < 0 && errno == ECHILD)) {
        reaped_ = true;
        status_ = status;
        return false;
    }
    return true;
}

int ChildProcess::wait() {
    if (pid_ <= 0 || reaped_) return status_;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, 0);
    } while (result < 0 && errno == EINTR);
    reaped_ = true;
    status_ = result == pid_ ? status : 0;
    return status_;
}

void ChildProcess::stop() {
    closeInput();
    if (pid_ <= 0 || reaped_) return;
    if (!group_) {
        if (isRunning()) {
            ::kill(pid_, SIGTERM);
            for (int attempt = 0; attempt < 20 && isRunning(); ++attempt) ::usleep(10'000);
            if (isRunning()) ::kill(pid_, SIGKILL);
        }
        wait();
        return;
    }
    // The leader is not reaped before the end: while it exists, even as a zombie, its pid
    // names only this group, so the signals cannot reach anyone else's processes.
    ::kill(-pid_, SIGTERM);
    for (int attempt = 0; attempt < 20 && !hasExited(); ++attempt) ::usleep(10'000);
    ::kill(-pid_, SIGKILL);
    wait();
}

std::optional<int> ChildProcess::exitStatusWithoutReaping() const {
    if (pid_ <= 0) return std::nullopt;
    if (reaped_) return status_;
    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return 0;  // not our child any more: nothing left to wait for
    if (info.si_pid != pid_) return std::nullopt;
    // The same encoding waitpid uses.
    return info.si_code == CLD_EXITED ? (info.si_status & 0xFF) << 8 : info.si_status & 0x7F;
}

bool ChildProcess::hasExited() const { return exitStatusWithoutReaping().has_value(); }

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (const auto status = exitStatusWithoutReaping()) return status;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        ::usleep(5'000);
    }
}

bool CommandOutput::exitedSuccessfully() const {
    return !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

CommandOutput runCommand(const std::filesystem::path& executable,
                         const std::vector<std::string>& arguments, std::size_t maxOutputBytes,
                         std::optional<std::chrono::milliseconds> limit, ProcessGroup group) {
    using Steady = std::chrono::steady_clock;
    const bool ownGroup = group == ProcessGroup::own;
    ChildProcess child = ChildProcess::start(executable, arguments, {.ownProcessGroup = ownGroup});
    CommandOutput result;
    // A plain time point rather than an optional one: GCC's optimiser, inlining the optional,
    // believed it could be read unset.
    const bool limited = limit.has_value();
    const Steady::time_point deadline =
        limited ? Steady::now() + *limit : Steady::time_point::max();
    char buffer[65536];
    for (;;) {
        int wait = -1;
        if (limited) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
            if (left.count() <= 0) {
                result.timedOut = true;
                break;
            }
            wait = static_cast<int>(left.count());
        }
        pollfd fd{child.outputDescriptor(), POLLIN, 0};
        const int ready = ::poll(&fd, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) break;
        if (ready == 0) continue;
        const ssize_t count = ::read(child.outputDescriptor(), buffer, sizeof buffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) break;
        const auto bytes = static_cast<std::size_t>(count);
        const std::size_t room = maxOutputBytes - std::min(maxOutputBytes, result.output.size());
        if (bytes > room) result.truncated = true;
        result.output.append(buffer, std::min(bytes, room));
    }
    child.closeOutput();
    if (ownGroup) {
        // The leader is waited for without reaping it, so that its group can still be named;
        // stop() then ends what is left of the group and reaps it.
        if (!result.timedOut) {
            // Without a limit, a century stands for "until it ends".
            const auto left = limited ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - Steady::now())
                                      : std::chrono::hours(24 * 365 * 100);
            if (!child.waitForExit(std::max(left, std::chrono::milliseconds(0)))) {
                result.timedOut = true;
            }
        }
        child.stop();
        result.status = child.wait();
        return result;
    }
    // A program may close its output and still not end; the limit covers the whole run.
    while (limited && !result.timedOut && child.isRunning()) {
        if (Steady::now() >= deadline) {
            result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (result.timedOut) {
        ::kill(child.pid(), SIGKILL);
    }
    result.status = child.wait();
    return result;
}

}  // namespace kestrane::platform
