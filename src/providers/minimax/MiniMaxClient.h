#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "model/ProviderUsage.h"
#include "platform/Clock.h"
#include "platform/Date.h"
#include "platform/Environment.h"
#include "platform/HttpClient.h"
#include "platform/SecretStore.h"
#include "providers/ApiKeys.h"
#include "providers/HttpProviderClient.h"

namespace kestrane::providers {

// Fetches what remains of the MiniMax Coding Plan (the five-hour window and, in newer
// answers, the weekly one) with the plan's API key, from the endpoint the maker's Coding Plan
// FAQ documents. Keeps nothing between fetches.
class MiniMaxClient : public HttpProviderClient<MiniMaxClient> {
  public:
    static constexpr std::string_view originVariable = "KESTRANE_MINIMAX_ORIGIN";
    static constexpr std::string_view apiKeyVariable = "MINIMAX_API_KEY";

    // Time limits of the one request: connecting or waiting for the next bytes, and the whole
    // exchange. The key may first be read from the keyring (SecretStore::lookupLimit).
    static constexpr std::chrono::seconds requestIdleLimit{15};
    static constexpr std::chrono::seconds requestExchangeLimit{20};

    // `http` defaults to the shared MiniMax session (the limits above).
    MiniMaxClient(const platform::Environment& environment, const platform::Clock& clock,
                  const platform::SecretStore& secrets, const platform::HttpClient* http = nullptr);

    // With the key found by loadKey.
    model::ProviderUsage fetch() const;
    // With `key`, as the settings check a key the user typed.
    model::ProviderUsage fetch(const ApiKey& key) const;

    // Claude Code's settings when it runs on MiniMax (api.minimax.io, or api.minimaxi.com in
    // mainland China), then MINIMAX_API_KEY, then the key stored in the keyring. Throws
    // QuotaError.
    static ApiKey loadKey(const platform::Environment& environment,
                          const platform::SecretStore& secrets);
    // Whether loadKey finds a key; never throws.
    static bool hasKey(const platform::Environment& environment,
                       const platform::SecretStore& secrets);

    // The remains answer as windows. Both of its shapes are read: the older one counts what
    // remains of each model's five-hour window (`current_interval_usage_count` of
    // `current_interval_total_count`), the newer one gives the remaining share of it and of
    // the week (`current_interval_remaining_percent`, `current_weekly_remaining_percent`).
    // Throws QuotaError, also for the HTTP-200 answers whose `base_resp.status_code` is not 0
    // (naming `keyPlace` when the key was refused) and for an answer of neither shape.
    static model::ProviderUsage parseRemains(std::string_view data, std::string_view keyPlace,
                                             platform::Date now);

  private:
    const platform::SecretStore& secrets_;
};

}  // namespace kestrane::providers
