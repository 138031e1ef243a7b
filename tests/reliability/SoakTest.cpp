// A long run of fetch cycles in one process, the way the application refreshes for days:
// resident memory must level off instead of growing with every cycle.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/Clock.h"
#include "platform/Environment.h"
#include "providers/FetchProvider.h"
#include "providers/cursor/CursorTestSupport.h"
#include "reliability/FakeProviders.h"
#include "support/FakeHttpServer.h"
#include "support/MemorySecretStore.h"
#include "support/TempDirectory.h"

#if defined(__SANITIZE_ADDRESS__)
#define KESTRANE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRANE_UNDER_ASAN 1
#endif
#endif

namespace kestrane {
namespace {

long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

TEST(SoakTest, AThousandFetchCyclesKeepResidentMemoryFlat) {
#ifdef KESTRANE_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer holds freed memory back on purpose; measured in dev.";
#endif
    testing::FakeHttpServer server;
    testing::serveValidAnswers(server.server());
    server.start();

    const testing::TempDirectory home;
    testing::makeStateDatabase(home.path() / ".config/Cursor/User/globalStorage/state.vscdb",
                               testing::cursorAccessToken());
    testing::storeCopilotSignIn(home.path());
    testing::storeGeminiSignIn(home.path());
    const platform::MapEnvironment environment(
        {{"KESTRANE_CLAUDE_OAUTH_TOKEN", testing::kClaudeToken},
         {"KESTRANE_CLAUDE_API_ORIGIN", server.origin()},
         {"KESTRANE_CURSOR_ORIGIN", server.origin()},
         {"KESTRANE_KIMI_ORIGIN", server.origin()},
         {"KESTRANE_COPILOT_ORIGIN", server.origin()},
         {"KESTRANE_GEMINI_ORIGIN", server.origin()},
         {"KESTRANE_GEMINI_AUTH_ORIGIN", server.origin()},
         {"KIMI_CODE_API_KEY", testing::kKimiKey},
         {"KESTRANE_ZAI_ORIGIN", server.origin()},
         {"KESTRANE_MINIMAX_ORIGIN", server.origin()},
         {"KESTRANE_OPENROUTER_ORIGIN", server.origin()},
         {"ZAI_API_KEY", testing::kZaiKey},
         {"MINIMAX_API_KEY", testing::kMiniMaxKey},
         {"OPENROUTER_API_KEY", testing::kOpenRouterKey},
         {"KIMI_CODE_HOME", (home.path() / ".kimi-code").string()}},
        home.path());
    const platform::SystemClock clock;
    const testing::MemorySecretStore secrets;
    const providers::ProviderContext context{environment, clock, secrets};
    const auto cycle = [&] {
        for (const auto kind :
             {model::ProviderKind::claude, model::ProviderKind::cursor, model::ProviderKind::kimi,
              model::ProviderKind::copilot, model::ProviderKind::gemini, model::ProviderKind::zai,
              model::ProviderKind::minimax, model::ProviderKind::openrouter}) {
            const auto result = providers::fetchProvider(kind, context);
            ASSERT_TRUE(result.isSuccess()) << result.failureValue().message;
        }
    };

    // Warm-up: first-use allocations (curl, ICU, the allocator's arenas) are not growth.
    for (int i = 0; i < 100; ++i) cycle();
    const long before = residentBytes();
    for (int i = 0; i < 1000; ++i) cycle();
    const long growth = residentBytes() - before;
    RecordProperty("residentGrowthBytes", std::to_string(growth));
    std::cout << "resident memory growth over 1000 cycles: " << growth / 1024 << " KiB\n";
    EXPECT_LT(growth, 2 * 1024 * 1024);
}

}  // namespace
}  // namespace kestrane
