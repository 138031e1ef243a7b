// The built executable in probe mode against a fake Cursor dashboard and hostile state
// databases: whatever the disk or the port holds, the probe ends with its message.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

#include "providers/cursor/CursorTestSupport.h"
#include "support/FakeHttpServer.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane {
namespace {

// Far beyond the time any of these cases needs, and well inside the session's own 15 s
// limit: a probe that waits for the account request is killed and the test fails.
constexpr std::chrono::seconds kProbeLimit{8};

class CursorHostileMachineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake.server().Get(
            "/api/usage-summary",
            [](const httplib::Request&, httplib::Response& response) { response.status = 500; });
        fake.server().Get("/api/auth/me", [this](const httplib::Request&, httplib::Response&) {
            // Never answers while the test runs.
            std::unique_lock lock(mutex);
            released.wait(lock, [this] { return finished; });
        });
        fake.start();
    }

    void TearDown() override {
        {
            const std::lock_guard lock(mutex);
            finished = true;
        }
        released.notify_all();
    }

    std::filesystem::path database() const {
        return home.path() / ".config/Cursor/User/globalStorage/state.vscdb";
    }

    testing::ProcessOutput probe() {
        return testing::runProcess(testing::kestraneExecutable(), {"--probe", "cursor"},
                                   {{"HOME", home.path().string()},
                                    {"PATH", "/usr/bin:/bin"},
                                    {"KESTRANE_CURSOR_ORIGIN", fake.origin()}},
                                   kProbeLimit);
    }

    std::mutex mutex;
    std::condition_variable released;
    bool finished = false;
    testing::TempDirectory home;
    testing::FakeHttpServer fake;
};

TEST_F(CursorHostileMachineTest, AFailedSummaryCancelsTheAccountRequest) {
    testing::makeStateDatabase(database(),
                               testing::makeJwt(R"({"sub":"auth0|user_1","exp":4102444800})"));
    const auto result = probe();
    EXPECT_EQ(result.standardOutput, "Cursor ERROR: Cursor API: HTTP 500.\n");
    EXPECT_EQ(result.exitStatus, 1);  // -1: killed at the limit, still waiting
}

TEST_F(CursorHostileMachineTest, AnythingButARegularFileIsNeverOpenedAsTheDatabase) {
    std::filesystem::create_directories(database().parent_path());
    ASSERT_EQ(::mkfifo(database().c_str(), 0600), 0);
    const auto result = probe();
    EXPECT_EQ(result.standardOutput,
              "Cursor ERROR: Не удалось прочитать локальную сессию Cursor.\n");
    EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(CursorHostileMachineTest, ARunawayQueryIsStopped) {
    // A view that never ends in place of the table.
    std::filesystem::create_directories(database().parent_path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE VIEW ItemTable AS WITH RECURSIVE r(key, value) AS "
                           "(SELECT 'a', 'b' UNION ALL SELECT key, value FROM r) "
                           "SELECT key, value FROM r;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const auto result = probe();
    EXPECT_EQ(result.standardOutput,
              "Cursor ERROR: Не удалось прочитать локальную сессию Cursor.\n");
    EXPECT_EQ(result.exitStatus, 1);
}

}  // namespace
}  // namespace kestrane
