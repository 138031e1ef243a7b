#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Cancellation.h"

namespace kestrane::platform {

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Longest wait for the connection or for the next piece of the answer; the session's
    // request time-out when absent.
    std::optional<std::chrono::milliseconds> timeout;
    // Accept a self-signed certificate, but only when the host is 127.0.0.1 or localhost
    // (local servers of desktop tools); every other host keeps full verification.
    bool trustLoopbackCertificate = false;
    // When set and cancelled (before or during the exchange), the request ends at once with
    // a TransportError; the caller has already decided without its answer.
    Cancellation* cancellation = nullptr;
};

struct HttpResponse {
    int status = 0;
    std::string body;

    bool operator==(const HttpResponse&) const = default;
};

// Limits of one session, shared by all its requests.
struct HttpSessionLimits {
    // Idle limit: connecting, or waiting for the next bytes of the answer.
    std::chrono::milliseconds requestTimeout{60'000};
    // Whole-exchange limit.
    std::chrono::milliseconds resourceTimeout{604'800'000};
};

// The largest answer body read; a longer one is not a valid answer.
inline constexpr std::size_t kMaxResponseBodyBytes = 8 * 1024 * 1024;

// Blocking HTTP(S). Safe to call from several threads at once.
class HttpClient {
  public:
    virtual ~HttpClient() = default;
    // The status and body; nullopt when the server's answer is not a usable HTTP response
    // (malformed, or a body over kMaxResponseBodyBytes). Throws TransportError (with a
    // Russian description) when no answer could be had.
    virtual std::optional<HttpResponse> send(const HttpRequest& request) const = 0;
};

// libcurl with TLS verification always on, no redirects, no signals. Requests to 127.0.0.1,
// ::1 and localhost never go through a proxy (a local server must be reached directly, and a
// bearer token for it must not cross the network in clear text); every other request uses
// the proxy the environment names (https_proxy, all_proxy, no_proxy), as curl does.
class CurlHttpClient final : public HttpClient {
  public:
    explicit CurlHttpClient(HttpSessionLimits limits);
    std::optional<HttpResponse> send(const HttpRequest& request) const override;

  private:
    HttpSessionLimits limits_;
};

// Percent-encodes pairs as an application/x-www-form-urlencoded body, in order.
std::string formUrlEncoded(const std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace kestrane::platform
