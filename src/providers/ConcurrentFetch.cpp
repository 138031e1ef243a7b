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

void fetchInto(const std::shared_ptr<Round>& round, std::size_t index, ProviderKind kind) {
    FetchResult result = guardedFetch(kind, [&] { return round->fetch(kind); });
    {
        const std::lock_guard lock(round->mutex);
        round->results[index] = std::move(result);
    }
    round->finished.notify_all();
}

}  // namespace

std::vector<FetchResult> fetchConcurrently(const Fetch& fetch,
                                           const std::vector<ProviderKind>& kinds,
                                           const FetchDeadline& deadline) {
    const auto start = std::chrono::steady_clock::now();
    const auto round = std::make_shared<Round>(fetch, kinds.size());
    for (std::size_t index = 0; index < kinds.size(); ++index) {
        const ProviderKind kind = kinds[index];
        try {
            std::thread([round, index, kind] { fetchInto(round, index, kind); }).detach();
        } catch (const std::system_error&) {
            // No thread to be had: this provider is fetched here, in turn.
            fetchInto(round, index, kind);
        }
    }

    std::vector<FetchResult> results;
    results.reserve(kinds.size());
    std::unique_lock lock(round->mutex);
    for (std::size_t index = 0; index < kinds.size(); ++index) {
        const ProviderKind kind = kinds[index];
        std::optional<FetchResult>& slot = round->results[index];
        round->finished.wait_until(lock, start + deadline(kind), [&] { return slot.has_value(); });
        results.push_back(slot ? std::move(*slot)
                               : FetchResult::failure(kind, std::string(fetchTimedOutMessage)));
    }
    return results;
}

}  // namespace kestrane::providers
