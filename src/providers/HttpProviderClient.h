#pragma once

#include <string>
#include <utility>

#include "model/QuotaError.h"
#include "platform/Clock.h"
#include "platform/EndpointOrigin.h"
#include "platform/Environment.h"
#include "platform/HttpClient.h"

namespace kestrane::providers {

// What every provider client that asks a web service holds: the environment and clock it was
// built with, its HTTP session and the origin of its service. `Client` declares its own time
// limits (requestIdleLimit, requestExchangeLimit); its shared session is built from them.
template <class Client>
class HttpProviderClient {
  public:
    // The session all of this provider's requests go through by default, created on first
    // use. One per provider, so each keeps its own limits and connections.
    static const platform::HttpClient& sharedSession() {
        static const platform::CurlHttpClient session(
            platform::HttpSessionLimits{Client::requestIdleLimit, Client::requestExchangeLimit});
        return session;
    }

  protected:
    // `http` defaults to the shared session. The client resolves its own origin
    // (platform::resolveOrigin with its variable), so each names what it reads.
    HttpProviderClient(const platform::Environment& environment, const platform::Clock& clock,
                       const platform::HttpClient* http, platform::EndpointOrigin origin)
        : environment_(environment),
          clock_(clock),
          http_(http ? *http : sharedSession()),
          origin_(std::move(origin)) {}

    // Throws the Russian reason when the origin's override is unusable, so that nothing (a
    // credential above all) is sent to it.
    void requireUsableOrigin() const {
        if (origin_.error) throw model::QuotaError::unavailable(*origin_.error);
    }

    const platform::Environment& environment_;
    const platform::Clock& clock_;
    const platform::HttpClient& http_;
    platform::EndpointOrigin origin_;
};

}  // namespace kestrane::providers
