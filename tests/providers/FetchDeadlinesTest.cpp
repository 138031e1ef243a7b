#include "providers/FetchDeadlines.h"

#include <gtest/gtest.h>

#include "providers/codex/CodexClient.h"

namespace kestrane::providers {
namespace {

using model::ProviderKind;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Each deadline is the longest wait its client declares plus ten seconds.
TEST(FetchDeadlinesTest, EachProviderGetsItsLongestWaitPlusTheMargin) {
    const struct {
        ProviderKind kind;
        seconds expected;
    } cases[] = {
        // Each answer of the app server: 15 s.
        {ProviderKind::codex, seconds{25}},
        // Each request's whole exchange: 15 s.
        {ProviderKind::cursor, seconds{25}},
        // Each request's whole exchange: 20 s.
        {ProviderKind::claude, seconds{30}},
        {ProviderKind::kimi, seconds{30}},
        // The process listing: 10 s (socket listings 5 s, requests 3 s).
        {ProviderKind::antigravity, seconds{20}},
        // The keyring (5 calls of 5 s at most), then the request's whole exchange: 20 s.
        {ProviderKind::zai, seconds{55}},
        {ProviderKind::minimax, seconds{55}},
        {ProviderKind::openrouter, seconds{55}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(model::rawValue(testCase.kind));
        EXPECT_EQ(providerFetchDeadline(testCase.kind), testCase.expected);
    }
}

TEST(FetchDeadlinesTest, CodexCountsFromWhicheverAnswerMayTakeLongest) {
    EXPECT_EQ(CodexLimits{}.longest(), seconds{15});
    for (milliseconds CodexLimits::*limit :
         {&CodexLimits::initialize, &CodexLimits::accountRead, &CodexLimits::rateLimitsRead,
          &CodexLimits::threadList}) {
        CodexLimits limits;
        limits.*limit = seconds{40};
        EXPECT_EQ(limits.longest(), seconds{40});
    }
}

}  // namespace
}  // namespace kestrane::providers
