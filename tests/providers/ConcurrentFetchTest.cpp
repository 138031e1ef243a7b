#include "providers/ConcurrentFetch.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>

#include "model/QuotaError.h"
#include "support/Fixtures.h"
#include "support/Gate.h"

namespace kestrane::providers {
namespace {

using model::FetchResult;
using model::ProviderKind;
using namespace std::chrono_literals;

FetchResult answer(ProviderKind kind) { return FetchResult::success({.provider = kind}); }

TEST(ConcurrentFetchTest, AProviderPastItsDeadlineTimesOutWhileTheOthersAnswer) {
    const auto gate = std::make_shared<testing::Gate>();
    const Fetch fetch = testing::byProvider([gate](ProviderKind kind) {
        if (kind == ProviderKind::cursor) gate->wait();
        return answer(kind);
    });
    // The stuck provider's deadline has passed at once; the others get all the time they need.
    const FetchDeadline deadline = [](ProviderKind kind) {
        return kind == ProviderKind::cursor ? 0ms : std::chrono::milliseconds(10min);
    };

    const auto results =
        fetchConcurrently(fetch,
                          defaultAccounts({ProviderKind::codex, ProviderKind::cursor,
                                           ProviderKind::kimi, ProviderKind::codex}),
                          deadline);
    gate->open();

    const std::vector<FetchResult> expected = {
        answer(ProviderKind::codex),
        FetchResult::failure(ProviderKind::cursor, std::string(fetchTimedOutMessage)),
        answer(ProviderKind::kimi),
        answer(ProviderKind::codex),
    };
    EXPECT_EQ(results, expected);
}

TEST(ConcurrentFetchTest, WhateverAFetchThrowsBecomesItsFailure) {
    using enum ProviderKind;
    const Fetch fetch = testing::byProvider([](ProviderKind kind) -> FetchResult {
        switch (kind) {
            case codex:
                throw model::QuotaError::unavailable("Codex не найден.");
            case cursor:
                throw std::runtime_error("curl: (7) Failed to connect");
            case claude:
                throw std::bad_alloc();
            case kimi:
                throw 42;
            case antigravity:
            case copilot:
            case gemini:
            case zai:
            case minimax:
            case openrouter:
                break;
        }
        return answer(kind);
    });

    const auto results =
        fetchConcurrently(fetch, defaultAccounts({kimi, codex, cursor, claude, antigravity, kimi}));

    const std::vector<FetchResult> expected = {
        FetchResult::failure(kimi, "Произошла непредвиденная ошибка."),
        FetchResult::failure(codex, "Codex не найден."),
        FetchResult::failure(cursor, "Произошла непредвиденная ошибка."),
        FetchResult::failure(claude, "Недостаточно памяти."),
        answer(antigravity),
        FetchResult::failure(kimi, "Произошла непредвиденная ошибка."),
    };
    EXPECT_EQ(results, expected);
}

}  // namespace
}  // namespace kestrane::providers
