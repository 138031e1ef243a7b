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

// Fetches what an OpenRouter API key has spent, against its limit when it has one, from the
// key endpoint of OpenRouter's API reference. Credits, not rolling windows: the spending is
// the usage's spending, and a window is shown only for a limit that resets (daily, weekly or
// monthly). Keeps nothing between fetches.
class OpenRouterClient : public HttpProviderClient<OpenRouterClient> {
  public:
    static constexpr std::string_view originVariable = "KESTRANE_OPENROUTER_ORIGIN";
    static constexpr std::string_view apiKeyVariable = "OPENROUTER_API_KEY";

    // Time limits of the one request: connecting or waiting for the next bytes, and the whole
    // exchange. The key may first be read from the keyring (SecretStore::lookupLimit).
    static constexpr std::chrono::seconds requestIdleLimit{15};
    static constexpr std::chrono::seconds requestExchangeLimit{20};

    // `http` defaults to the shared OpenRouter session (the limits above).
    OpenRouterClient(const platform::Environment& environment, const platform::Clock& clock,
                     const platform::SecretStore& secrets,
                     const platform::HttpClient* http = nullptr);

    // With the key found by loadKey.
    model::ProviderUsage fetch() const;
    // With `key`, as the settings check a key the user typed.
    model::ProviderUsage fetch(const ApiKey& key) const;

    // OPENROUTER_API_KEY, then the key stored in the keyring. Throws QuotaError.
    static ApiKey loadKey(const platform::Environment& environment,
                          const platform::SecretStore& secrets);
    // Whether loadKey finds a key; never throws.
    static bool hasKey(const platform::Environment& environment,
                       const platform::SecretStore& secrets);

    // The key endpoint's answer (`data`: limit, limit_remaining, limit_reset, usage,
    // usage_daily, usage_weekly, usage_monthly, is_free_tier) as the usage. Throws QuotaError.
    static model::ProviderUsage parseKey(std::string_view data, platform::Date now);
    // When a limit that resets `period` ("daily", "weekly", "monthly") next resets after
    // `now`: midnight UTC, Monday, the first of the month; nullopt for another period.
    static std::optional<platform::Date> nextReset(std::string_view period, platform::Date now);

  private:
    const platform::SecretStore& secrets_;
};

}  // namespace kestrane::providers
