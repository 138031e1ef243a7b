#pragma once

#include <httplib.h>

#include <atomic>
#include <string>
#include <thread>

namespace kestrane::testing {

// An in-process HTTP server on 127.0.0.1 and a free port. Register handlers on server()
// before start(); the destructor stops it.
class FakeHttpServer {
  public:
    FakeHttpServer();
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer&) = delete;
    FakeHttpServer& operator=(const FakeHttpServer&) = delete;

    httplib::Server& server() { return server_; }
    void start();
    // "http://127.0.0.1:<port>"
    std::string origin() const;
    int port() const { return port_; }

  private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

}  // namespace kestrane::testing
