#include "localservices/LocalServiceCommand.h"

#include <sys/wait.h>

#include "localservices/LocalServiceMonitorError.h"
#include "platform/ChildProcess.h"
#include "platform/UnicodeText.h"

namespace kestrane::localservices::LocalServiceCommand {

LocalServiceCommandResult run(const std::string& executable,
                              const std::vector<std::string>& arguments,
                              std::size_t maxOutputBytes) {
    platform::CommandOutput output;
    try {
        output = platform::runCommand(executable, arguments, maxOutputBytes);
    } catch (const platform::LaunchError&) {
        throw LocalServiceMonitorError::scanFailed();
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
