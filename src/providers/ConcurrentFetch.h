#pragma once

#include <chrono>
#include <functional>
#include <string_view>
#include <vector>

#include "model/Account.h"
#include "model/FetchResult.h"
#include "model/ProviderKind.h"
#include "providers/FetchDeadlines.h"

namespace kestrane::providers {

// One account's blocking fetch; called on worker threads, several at once.
using Fetch = std::function<model::FetchResult(const model::Account&)>;

// How long the waiting side gives one provider, counted from the start of the round.
using FetchDeadline = std::function<std::chrono::milliseconds(model::ProviderKind)>;

// The failure a provider ends in when it has not answered by its deadline.
inline constexpr std::string_view fetchTimedOutMessage = "Провайдер не ответил вовремя.";

// Fetches every requested account at once, one worker thread each, and returns their results
// in the requested order (repeats kept), each result carrying its account. Whatever a fetch
// throws becomes its failed result. An account still busy at its provider's deadline gets the
// time-out failure; its worker cannot be stopped and finishes on its own later, holding its
// own copy of `fetch` and nothing of the caller's, so everything `fetch` itself refers to must
// outlive the process's last worker.
std::vector<model::FetchResult> fetchConcurrently(
    const Fetch& fetch, const std::vector<model::Account>& accounts,
    const FetchDeadline& deadline = providerFetchDeadline);

// The default account of each provider, in the order given.
std::vector<model::Account> defaultAccounts(const std::vector<model::ProviderKind>& kinds);

}  // namespace kestrane::providers
