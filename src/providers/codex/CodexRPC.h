#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ChildProcess.h"
#include "platform/Json.h"

namespace kestrane::providers {

// One running `codex app-server` child and the line-delimited JSON-RPC exchange with it.
// Lives for one fetch; the child is stopped by stop() or, at the latest, by the destructor.
class CodexRPC {
  public:
    using Deadline = std::chrono::steady_clock::time_point;

    // A line longer than this is not an answer we could use; reading it whole would let a
    // misbehaving child make us allocate without bound.
    static constexpr std::size_t maxLineBytes = 8 * 1024 * 1024;

    // Starts `executable` in app-server mode in `workingDirectory`, in a process group of its
    // own, with `searchPath` as its PATH. Throws QuotaError::unavailable when it cannot be
    // started.
    CodexRPC(const std::filesystem::path& executable, const std::filesystem::path& workingDirectory,
             const std::string& searchPath);

    // Sends a request and returns the `result` object of its response. Lines that answer
    // something else (notifications, other ids) are skipped. An `error` answer throws the
    // QuotaError codexServerError() makes of the server's text.
    platform::Json request(std::int64_t id, std::string_view method, platform::Json params,
                           std::chrono::milliseconds timeout);
    // One compact JSON line. A child that has gone away gives the closed-connection
    // QuotaError; other write failures a LocalizedError with the system's description.
    void write(const platform::Json& message);
    // The next non-empty line as a JSON object; nullopt at the end of the stream.
    std::optional<platform::Json> readLine(Deadline deadline);
    // Ends the child and everything it started (close its input, SIGTERM to its process
    // group, a short grace period, SIGKILL to the group) and reaps it.
    void stop();
    // The child's wait status when it exits by itself within `limit`.
    std::optional<int> exitStatus(std::chrono::milliseconds limit) {
        return process_.waitForExit(limit);
    }

    pid_t processIdentifier() const { return process_.pid(); }
    // The server's own text when it answered the last request with an error (rather than
    // failing it by silence, a closed connection or an answer we could not read).
    const std::optional<std::string>& lastRefusal() const { return refusal_; }

    // A response id as an integer: integers as they are, other numbers truncated.
    static std::optional<std::int64_t> identifier(const platform::Json& value);

  private:
    platform::ChildProcess process_;
    std::string readBuffer_;
    // Bytes of readBuffer_ already known to hold no line feed.
    std::size_t scannedBytes_ = 0;
    std::optional<std::string> refusal_;
};

}  // namespace kestrane::providers
