#include "platform/HttpClient.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/LocalizedError.h"
#include "support/FakeHttpServer.h"
#include "support/FaultyHttpServer.h"

namespace kestrane::platform {
namespace {

using namespace std::chrono_literals;

std::string transportErrorOf(const HttpClient& client, const HttpRequest& request) {
    try {
        client.send(request);
    } catch (const TransportError& error) {
        return error.what();
    }
    return "<no error>";
}

TEST(HttpClientTest, SendsMethodHeadersAndBodyAndReturnsTheAnswer) {
    testing::FakeHttpServer fake;
    std::string seenBody, seenHeader;
    fake.server().Post("/echo", [&](const httplib::Request& request, httplib::Response& response) {
        seenBody = request.body;
        seenHeader = request.get_header_value("X-Probe");
        response.status = 418;
        response.set_content("{\"ok\":true}", "application/json");
    });
    fake.start();

    const CurlHttpClient client({});
    const auto response = client.send({.method = "POST",
                                       .url = fake.origin() + "/echo",
                                       .headers = {{"X-Probe", "yes"}},
                                       .body = formUrlEncoded({{"a b", "ü&="}, {"c", "d"}})});
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 418);
    EXPECT_EQ(response->body, "{\"ok\":true}");
    EXPECT_EQ(seenHeader, "yes");
    EXPECT_EQ(seenBody, "a%20b=%C3%BC%26%3D&c=d");
}

TEST(HttpClientTest, BodiesOverTheCapAreNotAValidAnswer) {
    testing::FakeHttpServer fake;
    fake.server().Get("/exact", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(kMaxResponseBodyBytes, 'x'), "text/plain");
    });
    fake.server().Get("/over", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(kMaxResponseBodyBytes + 1, 'x'), "text/plain");
    });
    fake.start();

    const CurlHttpClient client({});
    const auto exact = client.send({.url = fake.origin() + "/exact"});
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->body.size(), kMaxResponseBodyBytes);
    EXPECT_FALSE(client.send({.url = fake.origin() + "/over"}));
}

TEST(HttpClientTest, TransportFailuresHaveRussianDescriptions) {
    testing::FakeHttpServer fake;
    std::mutex mutex;
    std::condition_variable released;
    bool done = false;
    fake.server().Get("/silent", [&](const httplib::Request&, httplib::Response& response) {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return done; });
        response.set_content("late", "text/plain");
    });
    fake.start();

    const CurlHttpClient client({.requestTimeout = 200ms, .resourceTimeout = 5s});
    EXPECT_EQ(transportErrorOf(client, {.url = fake.origin() + "/silent"}),
              "Превышен лимит времени на запрос.");
    const CurlHttpClient shortTotal({.requestTimeout = 5s, .resourceTimeout = 200ms});
    EXPECT_EQ(transportErrorOf(shortTotal, {.url = fake.origin() + "/silent"}),
              "Превышен лимит времени на запрос.");
    // TLS to a plain-text server fails the handshake. The server answers without waiting for
    // a request line: one that waits for a line break in the binary ClientHello would hang
    // whenever the handshake's random bytes hold none, and the test would see a time-out. The
    // handshake fails at once, so a patient client costs nothing and a loaded machine's slow
    // handshake cannot pass for an idle connection.
    {
        const CurlHttpClient patient({.requestTimeout = 5s, .resourceTimeout = 5s});
        testing::FaultyHttpServer plain(testing::Fault::greetsInPlainText);
        const auto port = plain.origin().substr(plain.origin().rfind(':') + 1);
        EXPECT_EQ(transportErrorOf(patient, {.url = "https://127.0.0.1:" + port + "/"}),
                  "Произошла ошибка SSL, и безопасное соединение с сервером невозможно.");
    }
    {
        const std::lock_guard lock(mutex);
        done = true;
    }
    released.notify_all();

    // A port nobody listens on: the fake server's port once it has stopped.
    int closedPort = 0;
    {
        testing::FakeHttpServer gone;
        gone.start();
        closedPort = gone.port();
    }
    EXPECT_EQ(transportErrorOf(client, {.url = "http://127.0.0.1:" + std::to_string(closedPort)}),
              "Не удалось подключиться к серверу.");
    EXPECT_EQ(transportErrorOf(client, {.url = "gopher://127.0.0.1/"}), "Неподдерживаемый URL.");
}

TEST(HttpClientTest, ACancelledRequestEndsAtOnceWithoutItsAnswer) {
    testing::FakeHttpServer fake;
    std::mutex mutex;
    std::condition_variable changed;
    bool arrived = false, released = false;
    int requests = 0;
    fake.server().Get("/slow", [&](const httplib::Request&, httplib::Response& response) {
        std::unique_lock lock(mutex);
        ++requests;
        arrived = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        response.set_content("late", "text/plain");
    });
    fake.start();
    // Only the cancellation can end this wait before the test's own end.
    const CurlHttpClient client({std::chrono::minutes(10), std::chrono::minutes(10)});

    Cancellation early;
    early.cancel();
    EXPECT_EQ(transportErrorOf(client, {.url = fake.origin() + "/slow", .cancellation = &early}),
              "Запрос отменён.");

    Cancellation cancellation;
    std::thread canceller([&] {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return arrived; });
        cancellation.cancel();
    });
    EXPECT_EQ(
        transportErrorOf(client, {.url = fake.origin() + "/slow", .cancellation = &cancellation}),
        "Запрос отменён.");
    canceller.join();
    {
        const std::lock_guard lock(mutex);
        released = true;
        EXPECT_EQ(requests, 1);  // the early one never left
    }
    changed.notify_all();

    // Not cancelled, the same path answers as usual.
    Cancellation unused;
    const auto answer = client.send({.url = fake.origin() + "/slow", .cancellation = &unused});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "late");
}

}  // namespace
}  // namespace kestrane::platform
