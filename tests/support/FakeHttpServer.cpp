#include "support/FakeHttpServer.h"

#include <stdexcept>

namespace kestrane::testing {

FakeHttpServer::FakeHttpServer() = default;

FakeHttpServer::~FakeHttpServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
}

void FakeHttpServer::start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("no free port");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
}

std::string FakeHttpServer::origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

}  // namespace kestrane::testing
