#include "support/RecordingProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace kestrane::testing {

RecordingProxy::RecordingProxy() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wakeUp_, O_CLOEXEC) != 0) {
        throw std::runtime_error("proxy stand-in cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

RecordingProxy::~RecordingProxy() {
    (void)!::write(wakeUp_[1], "x", 1);
    thread_.join();
    for (int fd : {listener_, wakeUp_[0], wakeUp_[1]}) ::close(fd);
}

std::string RecordingProxy::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> RecordingProxy::requestLines() const {
    const std::lock_guard lock(mutex_);
    return lines_;
}

void RecordingProxy::serve() {
    for (;;) {
        pollfd waits[2] = {{listener_, POLLIN, 0}, {wakeUp_[0], POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) continue;
        if (waits[1].revents) return;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        // The request head: enough to see its first line.
        std::string head;
        char buffer[4096];
        while (head.find("\r\n") == std::string::npos && head.size() < 65536) {
            pollfd wait{connection, POLLIN, 0};
            if (::poll(&wait, 1, 5000) <= 0) break;
            const ssize_t count = ::read(connection, buffer, sizeof buffer);
            if (count <= 0) break;
            head.append(buffer, static_cast<std::size_t>(count));
        }
        {
            const std::lock_guard lock(mutex_);
            lines_.push_back(head.substr(0, head.find("\r\n")));
        }
        static constexpr char kRefusal[] =
            "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        (void)!::write(connection, kRefusal, sizeof kRefusal - 1);
        ::close(connection);
    }
}

}  // namespace kestrane::testing
