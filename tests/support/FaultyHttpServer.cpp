#include "support/FaultyHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace kestrane::testing {
namespace {

int listenOnLoopback(int& port, bool listening) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (listening && ::listen(fd, 16) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("bind");
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace

FaultyHttpServer::FaultyHttpServer(Fault fault, std::string body)
    : fault_(fault), body_(std::move(body)) {
    listener_ = listenOnLoopback(port_, true);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    wakeRead_ = pipe[0];
    wakeWrite_ = pipe[1];
    acceptor_ = std::thread([this] { acceptLoop(); });
}

FaultyHttpServer::~FaultyHttpServer() {
    stopping_ = true;
    (void)::write(wakeWrite_, "x", 1);
    acceptor_.join();
    for (auto& connection : connections_) connection.join();
    ::close(listener_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

std::string FaultyHttpServer::origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string FaultyHttpServer::refusingOrigin() {
    // Bound but never listening: the port stays ours, and a connection attempt is refused.
    static int port = 0;
    static const int fd = listenOnLoopback(port, false);
    (void)fd;
    return "http://127.0.0.1:" + std::to_string(port);
}

bool FaultyHttpServer::clientClosedEveryConnection() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return open_ == 0; });
}

void FaultyHttpServer::acceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        {
            std::lock_guard lock(mutex_);
            ++open_;
        }
        connections_.emplace_back([this, connection] { serve(connection); });
    }
}

void FaultyHttpServer::serve(int connection) {
    // Reads the request head; the clients under test send no body with their GETs.
    std::string request;
    char buffer[4096];
    bool clientGone = false;
    if (fault_ == Fault::greetsInPlainText) {
        const std::string answer = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
        sendAll(connection, answer.data(), answer.size());
        ++requests_;
        request = "\r\n\r\n";
    }
    while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd fds[2] = {{connection, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (fds[1].revents != 0) break;
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) {
            clientGone = true;
            break;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
    if (!clientGone && !stopping_ && fault_ != Fault::greetsInPlainText) {
        ++requests_;
        const std::string json = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
        switch (fault_) {
            case Fault::neverAnswers:
                break;
            case Fault::trickles: {
                const std::string head = json + "Content-Length: 100000000\r\n\r\n{";
                sendAll(connection, head.data(), head.size());
                // One byte every 20 ms until the client hangs up (or the server stops).
                for (;;) {
                    pollfd fds[2] = {{connection, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
                    if (::poll(fds, 2, 20) != 0) break;
                    if (!sendAll(connection, " ", 1)) break;
                }
                break;
            }
            case Fault::closesMidBody: {
                const std::string head = json + "Content-Length: 1000\r\n\r\n{\"five_hour\":";
                sendAll(connection, head.data(), head.size());
                ::shutdown(connection, SHUT_WR);
                break;
            }
            case Fault::greetsInPlainText:
                break;
            case Fault::answers: {
                const std::string head =
                    json + "Content-Length: " + std::to_string(body_.size()) + "\r\n\r\n";
                if (sendAll(connection, head.data(), head.size())) {
                    sendAll(connection, body_.data(), body_.size());
                }
                break;
            }
        }
    }
    // Waits for the client to close its end; whatever it still sends is ignored.
    while (!clientGone) {
        pollfd fds[2] = {{connection, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (fds[1].revents != 0) break;
        if (::recv(connection, buffer, sizeof buffer, 0) <= 0) clientGone = true;
    }
    ::close(connection);
    {
        std::lock_guard lock(mutex_);
        if (clientGone) --open_;
    }
    changed_.notify_all();
}

}  // namespace kestrane::testing
