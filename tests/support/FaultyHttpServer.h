#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrane::testing {

// How the faulty server treats every request it receives.
enum class Fault {
    // Accepts the connection, reads the request and never writes a byte.
    neverAnswers,
    // Promises a long body and sends it one byte at a time, a little apart, for as long as the
    // client keeps reading (each gap well inside any idle limit).
    trickles,
    // Sends the status line, headers and the start of the body, then closes the connection.
    closesMidBody,
    // Answers 200 with the configured body.
    answers,
    // Writes a plain-text HTTP answer as soon as it accepts, before reading anything: a
    // plain-text server as a TLS client sees it, whatever bytes its handshake happens to hold.
    greetsInPlainText,
};

// A raw HTTP/1.1 server on 127.0.0.1 for answers a well-behaved server library will not send.
// It counts the connections still open on the client's side: a client that returns while a
// connection is still open has left something running.
class FaultyHttpServer {
  public:
    explicit FaultyHttpServer(Fault fault, std::string body = {});
    ~FaultyHttpServer();
    FaultyHttpServer(const FaultyHttpServer&) = delete;
    FaultyHttpServer& operator=(const FaultyHttpServer&) = delete;

    // "http://127.0.0.1:<port>"
    std::string origin() const;
    int requests() const { return requests_; }
    // Waits (briefly) until every accepted connection has been closed by the client; true
    // when none is left open.
    bool clientClosedEveryConnection();

    // An origin on which nothing listens: connecting is refused at once.
    static std::string refusingOrigin();

  private:
    void acceptLoop();
    void serve(int connection);

    Fault fault_;
    std::string body_;
    int listener_ = -1;
    int port_ = 0;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> requests_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    int open_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> connections_;
};

}  // namespace kestrane::testing
