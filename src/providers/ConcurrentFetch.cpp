#include "providers/ConcurrentFetch.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "providers/FetchProvider.h"

namespace kestrane::providers {
namespace {

using model::FetchResult;
using model::ProviderKind;

// What the workers share with the waiting side. Workers own it together with the caller, so a
// worker that finishes after the caller stopped waiting writes into memory that still lives.
struct Round {
    explicit Round(const Fetch& fetch, std::size_t count) : fetch(fetch), results(count) {}

    const Fetch fetch;
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<std::optional<FetchResult>> results;
};

// The result as the account's own, whatever the client put in it.
FetchResult belongingTo(FetchResult result, const model::AccountKey& account) {
    if (result.isSuccess()) {
        model::ProviderUsage usage = result.usage();
        usage.accountID = account.id;
        return FetchResult::success(std::move(usage));
    }
    return FetchResult::failure(account, result.failureValue().message);
}

void fetchInto(const std::shared_ptr<Round>& round, std::size_t index,
               const model::Account& account) {
    FetchResult result = belongingTo(
        guardedFetch(account.key.provider, [&] { return round->fetch(account); }), account.key);
    {
        const std::lock_guard lock(round->mutex);
        round->results[index] = std::move(result);
    }
    round->finished.notify_all();
}

}  // namespace

std::vector<FetchResult> fetchConcurrently(const Fetch& fetch,
                                           const std::vector<model::Account>& accounts,
                                           const FetchDeadline& deadline) {
    const auto start = std::chrono::steady_clock::now();
    const auto round = std::make_shared<Round>(fetch, accounts.size());
    for (std::size_t index = 0; index < accounts.size(); ++index) {
        const model::Account& account = accounts[index];
        try {
            std::thread([round, index, account] { fetchInto(round, index, account); }).detach();
        } catch (const std::system_error&) {
            // No thread to be had: this account is fetched here, in turn.
            fetchInto(round, index, account);
        }
    }

    std::vector<FetchResult> results;
    results.reserve(accounts.size());
    std::unique_lock lock(round->mutex);
    for (std::size_t index = 0; index < accounts.size(); ++index) {
        const model::AccountKey& account = accounts[index].key;
        std::optional<FetchResult>& slot = round->results[index];
        round->finished.wait_until(lock, start + deadline(account.provider),
                                   [&] { return slot.has_value(); });
        results.push_back(slot ? std::move(*slot)
                               : FetchResult::failure(account, std::string(fetchTimedOutMessage)));
    }
    return results;
}

std::vector<model::Account> defaultAccounts(const std::vector<ProviderKind>& kinds) {
    std::vector<model::Account> accounts;
    accounts.reserve(kinds.size());
    for (const ProviderKind kind : kinds) accounts.push_back(model::defaultAccount(kind));
    return accounts;
}

}  // namespace kestrane::providers
