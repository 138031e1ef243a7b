#include "providers/codex/CodexRPC.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

#include "model/QuotaError.h"
#include "providers/codex/CodexServerError.h"

namespace kestrane::providers {
namespace {

using model::QuotaError;
using platform::Json;
using Steady = std::chrono::steady_clock;

// A single wait never blocks longer than this, whatever the deadline.
constexpr int kMaxPollMilliseconds = 15000;
constexpr std::size_t kReadChunkBytes = 4096;

const char* const kTimedOut = "Codex не ответил вовремя.";
const char* const kReadFailed = "Не удалось прочитать ответ Codex.";
const char* const kInvalidJson = "Codex вернул некорректный JSON.";
const char* const kConnectionClosed = "Codex закрыл соединение.";

platform::ChildProcess launch(const std::filesystem::path& executable,
                              const std::filesystem::path& workingDirectory,
                              const std::string& searchPath) {
    try {
        // A group of its own: the npm launcher starts node, which may start more, and every
        // one of them must end with the fetch.
        return platform::ChildProcess::start(executable,
                                             {"-s", "read-only", "-a", "never", "app-server"},
                                             {.workingDirectory = workingDirectory,
                                              .pipeInput = true,
                                              .pipeOutput = true,
                                              .ownProcessGroup = true,
                                              .searchPath = searchPath});
    } catch (const platform::LaunchError& error) {
        throw QuotaError::unavailable(std::string("Не удалось запустить Codex: ") + error.what());
    }
}

// Whole milliseconds left, rounded up so that a wait never ends just short of the deadline.
std::int64_t millisecondsLeft(CodexRPC::Deadline deadline) {
    const auto left = deadline - Steady::now();
    if (left <= Steady::duration::zero()) return 0;
    return std::chrono::ceil<std::chrono::milliseconds>(left).count();
}

}  // namespace

CodexRPC::CodexRPC(const std::filesystem::path& executable,
                   const std::filesystem::path& workingDirectory, const std::string& searchPath)
    : process_(launch(executable, workingDirectory, searchPath)) {}

Json CodexRPC::request(std::int64_t id, std::string_view method, Json params,
                       std::chrono::milliseconds timeout) {
    const auto start = Steady::now();
    refusal_.reset();
    write(Json{{"id", id}, {"method", method}, {"params", std::move(params)}});
    const Deadline deadline = start + timeout;
    for (;;) {
        const auto line = readLine(deadline);
        if (!line) throw QuotaError::invalidResponse(kConnectionClosed);
        const auto idMember = line->find("id");
        if (idMember == line->end() || identifier(*idMember) != id) continue;

        if (const auto error = line->find("error"); error != line->end() && error->is_object()) {
            const auto message = error->find("message");
            const std::string text = message != error->end() && message->is_string()
                                         ? message->get<std::string>()
                                         : std::string();
            refusal_ = text;
            throw codexServerError(text);
        }
        if (const auto result = line->find("result");
            result != line->end() && result->is_object()) {
            return *result;
        }
        throw QuotaError::invalidResponse("В ответе Codex нет поля result.");
    }
}

void CodexRPC::write(const Json& message) {
    // Invalid UTF-8 is replaced rather than thrown: our messages are built from literals.
    const std::string line = message.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
    const int fd = process_.inputDescriptor();
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t count = ::write(fd, line.data() + written, line.size() - written);
        if (count < 0 && errno == EINTR) continue;
        // A child that has gone away is the same closed connection whether we notice it
        // when writing or when reading; only other failures keep the system's description.
        if (count < 0 && errno == EPIPE) throw QuotaError::invalidResponse(kConnectionClosed);
        if (count < 0) throw platform::LocalizedError(platform::describeSystemError(errno));
        written += static_cast<std::size_t>(count);
    }
}

std::optional<Json> CodexRPC::readLine(Deadline deadline) {
    for (;;) {
        const std::int64_t left = millisecondsLeft(deadline);
        if (left <= 0) throw QuotaError::timeout(kTimedOut);

        const std::size_t lineFeed = readBuffer_.find('\n', scannedBytes_);
        if (lineFeed != std::string::npos) {
            if (lineFeed > maxLineBytes) throw QuotaError::invalidResponse(kInvalidJson);
            const std::string line = readBuffer_.substr(0, lineFeed);
            readBuffer_.erase(0, lineFeed + 1);
            scannedBytes_ = 0;
            if (line.empty()) continue;
            Json value = platform::parseJson(line);
            if (!value.is_object()) throw QuotaError::invalidResponse(kInvalidJson);
            return value;
        }
        scannedBytes_ = readBuffer_.size();
        if (readBuffer_.size() > maxLineBytes) throw QuotaError::invalidResponse(kInvalidJson);

        pollfd descriptor{process_.outputDescriptor(), POLLIN, 0};
        const int wait = static_cast<int>(std::clamp<std::int64_t>(left, 1, kMaxPollMilliseconds));
        const int ready = ::poll(&descriptor, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) throw QuotaError::invalidResponse(kReadFailed);
        if (ready == 0) throw QuotaError::timeout(kTimedOut);

        char chunk[kReadChunkBytes];
        const ssize_t count = ::read(process_.outputDescriptor(), chunk, sizeof chunk);
        if (count == 0) return std::nullopt;
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count < 0) throw QuotaError::invalidResponse(kReadFailed);
        readBuffer_.append(chunk, static_cast<std::size_t>(count));
    }
}

void CodexRPC::stop() { process_.stop(); }

std::optional<std::int64_t> CodexRPC::identifier(const Json& value) {
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_float()) {
        const double number = std::trunc(value.get<double>());
        // 2^63 is exactly representable; anything from there on does not fit.
        if (!std::isfinite(number) || number < -9223372036854775808.0 ||
            number >= 9223372036854775808.0) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(number);
    }
    return std::nullopt;
}

}  // namespace kestrane::providers
