#include "localservices/LocalServiceCommand.h"

#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

#include "localservices/LocalServiceMonitorError.h"
#include "platform/ChildProcess.h"
#include "platform/UnicodeText.h"

namespace kestrane::localservices::LocalServiceCommand {

LocalServiceCommandResult run(const std::string& executable,
                              const std::vector<std::string>& arguments, std::size_t maxOutputBytes,
                              std::chrono::milliseconds limit) {
    platform::CommandOutput output;
    try {
        output = platform::runCommand(executable, arguments, maxOutputBytes, limit);
    } catch (const platform::LaunchError&) {
        throw LocalServiceMonitorError::scanFailed();
    }
    if (output.timedOut) {
        // Whole seconds read better than milliseconds, and a limit under one still says 1.
        const auto seconds = std::max<long long>(
            1,
            std::chrono::duration_cast<std::chrono::seconds>(limit + std::chrono::milliseconds(999))
                .count());
        throw LocalServiceMonitorError::toolTimedOut(
            std::filesystem::path(executable).filename().string(), static_cast<int>(seconds));
    }
    if (output.truncated) {
        const auto lastLine = output.output.rfind('\n');
        output.output.resize(lastLine == std::string::npos ? 0 : lastLine + 1);
    }
    LocalServiceCommandResult result;
    result.output = platform::decodeUtf8Leniently(output.output);
    if (WIFEXITED(output.status)) {
        result.status = WEXITSTATUS(output.status);
    } else if (WIFSIGNALED(output.status)) {
        result.status = 128 + WTERMSIG(output.status);
    } else {
        result.status = -1;
    }
    return result;
}

}  // namespace kestrane::localservices::LocalServiceCommand
