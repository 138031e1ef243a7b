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

// Fetches the z.ai GLM Coding Plan's quota (the five-hour and weekly token windows, the
// monthly allowance of tools) with the plan's API key, as the maker's own Claude Code
// plug-in asks for it. Keeps nothing between fetches.
class ZaiClient : public HttpProviderClient<ZaiClient> {
  public:
    static constexpr std::string_view originVariable = "KESTRANE_ZAI_ORIGIN";
    static constexpr std::string_view apiKeyVariable = "ZAI_API_KEY";

    // Time limits of the one request: connecting or waiting for the next bytes, and the whole
    // exchange. The key may first be read from the keyring (SecretStore::lookupLimit).
    static constexpr std::chrono::seconds requestIdleLimit{15};
    static constexpr std::chrono::seconds requestExchangeLimit{20};

    // `http` defaults to the shared z.ai session (the limits above).
    ZaiClient(const platform::Environment& environment, const platform::Clock& clock,
              const platform::SecretStore& secrets, const platform::HttpClient* http = nullptr);

    // With the key found by loadKey.
    model::ProviderUsage fetch() const;
    // With `key`, as the settings check a key the user typed.
    model::ProviderUsage fetch(const ApiKey& key) const;

    // Claude Code's settings when it runs on z.ai (api.z.ai, or open.bigmodel.cn in mainland
    // China), then ZAI_API_KEY, then the key stored in the keyring. Throws QuotaError.
    static ApiKey loadKey(const platform::Environment& environment,
                          const platform::SecretStore& secrets);
    // Whether loadKey finds a key; never throws.
    static bool hasKey(const platform::Environment& environment,
                       const platform::SecretStore& secrets);

    // The quota/limit answer as windows: the first TOKENS_LIMIT entry is the five-hour window
    // (the maker's tools read it so), a second one the weekly window, TIME_LIMIT the monthly
    // tools. Throws QuotaError, also for the HTTP-200 answers with `success: false`, whose
    // message names `keyPlace` (ApiKey::place) when the key was refused.
    static model::ProviderUsage parseQuota(std::string_view data, std::string_view keyPlace,
                                           platform::Date now);

  private:
    const platform::SecretStore& secrets_;
};

}  // namespace kestrane::providers
