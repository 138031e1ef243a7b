#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrane::testing {

// A stand-in for an HTTP proxy on 127.0.0.1 and a free port. It records the request line of
// everything that reaches it (a CONNECT for https, an absolute URL for http) and refuses it
// with 403, so nothing it is asked for ever leaves the machine.
class RecordingProxy {
  public:
    RecordingProxy();
    ~RecordingProxy();
    RecordingProxy(const RecordingProxy&) = delete;
    RecordingProxy& operator=(const RecordingProxy&) = delete;

    // "http://127.0.0.1:<port>"
    std::string url() const;
    // The request lines received so far, in order.
    std::vector<std::string> requestLines() const;

  private:
    void serve();

    int listener_ = -1;
    int wakeUp_[2] = {-1, -1};
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

}  // namespace kestrane::testing
