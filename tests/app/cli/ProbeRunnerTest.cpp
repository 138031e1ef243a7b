#include "app/cli/ProbeRunner.h"

#include <gtest/gtest.h>

#include "support/Fixtures.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>

#include "support/Gate.h"

namespace kestrane::app {
namespace {

using model::FetchResult;
using model::ProviderKind;
using providers::FetchDeadline;

TEST(ProbeRunnerTest, RequestedProvidersFollowTheArgumentsAfterProbe) {
    using enum ProviderKind;
    // Without names: the first five, always.
    const std::vector<ProviderKind> all{codex, cursor, claude, kimi, antigravity};
    struct Case {
        std::vector<std::string> arguments;
        std::vector<ProviderKind> providers;
    };
    const Case cases[] = {
        {{"kestrane", "--probe"}, all},
        {{"kestrane"}, all},
        {{"kestrane", "--probe", "KIMI", "claude"}, {kimi, claude}},
        {{"kestrane", "--probe", "nothing", "here"}, all},
        {{"kestrane", "--probe", "claude", "bogus"}, {claude}},
        {{"kestrane", "--probe", "claude", "Claude"}, {claude, claude}},
        {{"kestrane", "codex", "--probe", "AntiGravity", "--probe", "cursor"},
         {antigravity, cursor}},
        {{"kestrane", "--PROBE", "claude"}, all},
        {{"kestrane", "--probe", "kimi code"}, all},
        // The later providers by their one-word names, or by their display names as one word.
        {{"kestrane", "--probe", "gemini", "Copilot", "claude"}, {gemini, copilot, claude}},
        {{"kestrane", "--probe", "GitHub Copilot", "gemini cli"}, {copilot, gemini}},
        {{"kestrane", "--probe", "github", "cli"}, all},
        {{"kestrane", "--probe", "zai", "MiniMax", "OPENROUTER"}, {zai, minimax, openrouter}},
        {{"kestrane", "--probe", "z.ai", "z"}, {zai}},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.arguments) joined += a + " ";
        SCOPED_TRACE(joined);
        EXPECT_EQ(ProbeRunner::requestedProviders(c.arguments), c.providers);
        // Named providers are asked whatever is stored on the machine.
        const bool named = c.providers != all;
        if (named) {
            EXPECT_EQ(
                ProbeRunner::requestedProviders(c.arguments, [](ProviderKind) { return false; }),
                c.providers);
        }
    }
}

TEST(ProbeRunnerTest, UnnamedLaterProvidersAreAskedOnlyWithTheirSignIn) {
    using enum ProviderKind;
    const std::vector<std::string> arguments{"kestrane", "--probe"};
    struct Case {
        std::vector<ProviderKind> signedIn;
        std::vector<ProviderKind> providers;
    };
    const Case cases[] = {
        {{}, {codex, cursor, claude, kimi, antigravity}},
        {{gemini}, {codex, cursor, claude, kimi, antigravity, gemini}},
        {{gemini, copilot}, {codex, cursor, claude, kimi, antigravity, copilot, gemini}},
        // The first five do not depend on it.
        {{copilot, claude}, {codex, cursor, claude, kimi, antigravity, copilot}},
        {{openrouter, zai}, {codex, cursor, claude, kimi, antigravity, zai, openrouter}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signedIn.size());
        std::vector<ProviderKind> asked;
        const auto providers = ProbeRunner::requestedProviders(arguments, [&](ProviderKind kind) {
            asked.push_back(kind);
            return std::find(c.signedIn.begin(), c.signedIn.end(), kind) != c.signedIn.end();
        });
        EXPECT_EQ(providers, c.providers);
        // Only the later providers' sign-ins are looked up.
        EXPECT_EQ(asked, (std::vector<ProviderKind>{copilot, gemini, zai, minimax, openrouter}));
    }
}

model::ProviderUsage usageOf(ProviderKind kind, std::vector<model::LimitWindow> windows) {
    return {.provider = kind, .windows = std::move(windows)};
}

TEST(ProbeRunnerTest, PrintsInRequestedOrderWhateverTheCompletionOrder) {
    // Kimi is held back until Claude has finished, so Claude completes first.
    std::mutex mutex;
    std::condition_variable changed;
    bool claudeDone = false;
    const auto fetch = testing::byProvider([&](ProviderKind kind) {
        if (kind == ProviderKind::kimi) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return claudeDone; });
            return FetchResult::failure(kind, "Kimi не авторизован.");
        }
        auto result = FetchResult::success(usageOf(kind, {{.id = "claude-session",
                                                           .name = "Сессия",
                                                           .usedPercent = 12.5,
                                                           .durationMinutes = 300},
                                                          {.id = "claude-week",
                                                           .name = "Все модели",
                                                           .usedPercent = 0.4,
                                                           .durationMinutes = 10080}}));
        {
            const std::lock_guard lock(mutex);
            claudeDone = true;
        }
        changed.notify_all();
        return result;
    });
    std::ostringstream out;
    EXPECT_EQ(ProbeRunner::run({"kestrane", "--probe", "kimi", "claude"}, fetch, out), 1);
    EXPECT_EQ(out.str(),
              "Kimi ERROR: Kimi не авторизован.\n"
              "Claude OK: Сессия - 5 часов=13%, Все модели - Недельный=0%\n");
}

TEST(ProbeRunnerTest, CreditsWithoutAWindowPrintTheirSpending) {
    const struct {
        model::ProviderUsage usage;
        const char* line;
    } cases[] = {
        {{.provider = ProviderKind::openrouter, .spendUsed = 12.5, .currency = "USD"},
         "OpenRouter OK: Потрачено 12.50 USD\n"},
        {{.provider = ProviderKind::openrouter,
          .spendUsed = 25.5,
          .spendLimit = 100,
          .currency = "USD"},
         "OpenRouter OK: Потрачено 25.50 из 100.00 USD\n"},
        // A window says it all.
        {{.provider = ProviderKind::openrouter,
          .windows = {{.id = "openrouter-month",
                       .name = "Лимит ключа",
                       .usedPercent = 25.5,
                       .durationMinutes = 43200}},
          .spendUsed = 25.5,
          .spendLimit = 100,
          .currency = "USD"},
         "OpenRouter OK: Лимит ключа - Месячный=26%\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::ostringstream out;
        const auto fetch = [&](const model::Account&) { return FetchResult::success(c.usage); };
        EXPECT_EQ(ProbeRunner::run({"k", "--probe", "openrouter"}, fetch, out), 0);
        EXPECT_EQ(out.str(), c.line);
    }
}

TEST(ProbeRunnerTest, SuccessLinesRecentModelsAndExitStatus) {
    const auto fetch = testing::byProvider([](ProviderKind kind) {
        auto usage = usageOf(kind, {});
        if (kind == ProviderKind::codex) {
            usage.windows = {{.id = "Codex-primary-300",
                              .name = "Codex",
                              .usedPercent = 99.5,
                              .durationMinutes = 300}};
            usage.recentModels = {{.model = "gpt-5", .sessionCount = 2},
                                  {.model = "o3", .sessionCount = 1}};
        }
        return FetchResult::success(usage);
    });
    std::ostringstream out;
    EXPECT_EQ(ProbeRunner::run({"k", "--probe", "codex", "cursor", "codex"}, fetch, out), 0);
    EXPECT_EQ(out.str(),
              "Codex OK: Codex - 5 часов=100%\n"
              "Recent configured models: gpt-5, o3\n"
              "Cursor OK: \n"
              "Codex OK: Codex - 5 часов=100%\n"
              "Recent configured models: gpt-5, o3\n");
}

TEST(ProbeRunnerTest, AProviderThatNeverAnswersPrintsATimeOutAndTheOthersTheirLines) {
    // The stuck fetch owns what it waits on: it outlives this test's frame.
    const auto gate = std::make_shared<testing::Gate>();
    const auto fetch = testing::byProvider([gate](ProviderKind kind) {
        if (kind == ProviderKind::antigravity) gate->wait();
        return FetchResult::success(usageOf(kind, {}));
    });
    const FetchDeadline deadline = [](ProviderKind kind) {
        return kind == ProviderKind::antigravity ? std::chrono::milliseconds(0)
                                                 : std::chrono::milliseconds(600'000);
    };
    std::ostringstream out;
    EXPECT_EQ(ProbeRunner::run({"k", "--probe", "antigravity", "kimi"}, fetch, out, deadline), 1);
    gate->open();
    EXPECT_EQ(out.str(),
              "Antigravity ERROR: Провайдер не ответил вовремя.\n"
              "Kimi OK: \n");
}

}  // namespace
}  // namespace kestrane::app
