#include "app/desktop/LocalServicesController.h"

#include <stdexcept>

#include <gtest/gtest.h>

#include "app/desktop/ManualRunner.h"
#include "support/FixedClock.h"

namespace kestrane::app {
namespace {

LocalService service(std::int32_t pid, std::string name) {
    return {.pid = pid, .name = std::move(name), .ports = {3000}, .startToken = "Mon Jan  1"};
}

class LocalServicesControllerTest : public ::testing::Test {
  protected:
    void SetUp() override { makeController(); }

    void makeController() {
        controller_ = std::make_unique<LocalServicesController>(
            LocalServicesBackend{.scan = [this] { return LocalServiceScan{.services = scan()}; },
                                 .stop = [this](const LocalService& each) { stop(each); },
                                 .pause = [this](double seconds) { pauses_.push_back(seconds); }},
            runner_.runner(), clock_);
        QObject::connect(controller_.get(), &LocalServicesController::changed,
                         [this] { ++changes_; });
    }

    std::vector<LocalService> scan() {
        if (scanFailures_ > 0) {
            --scanFailures_;
            throw std::runtime_error("Не удалось получить список локальных TCP-сервисов.");
        }
        return listed_;
    }
    void stop(const LocalService& each) {
        stopped_.push_back(each);
        if (stopError_) throw std::runtime_error(*stopError_);
        if (!ignoresSigterm_) std::erase(listed_, each);
    }

    testing::FixedClock clock_;
    testing::ManualRunner runner_;
    std::unique_ptr<LocalServicesController> controller_;
    int changes_ = 0;

    std::vector<LocalService> listed_;
    std::vector<LocalService> stopped_;
    std::vector<double> pauses_;
    int scanFailures_ = 0;
    std::optional<std::string> stopError_;
    bool ignoresSigterm_ = false;
};

TEST_F(LocalServicesControllerTest, ScanAndStopExcludeEachOther) {
    listed_ = {service(100, "node"), service(200, "vite")};
    controller_->load();
    EXPECT_TRUE(controller_->state().isLoading);
    controller_->stop(listed_[0]);  // ignored: a scan runs
    controller_->load();            // ignored too
    EXPECT_EQ(runner_.pending(), 1u);
    runner_.finishAll();
    EXPECT_TRUE(stopped_.empty());
    EXPECT_EQ(controller_->state().services, listed_);
    EXPECT_EQ(controller_->state().updatedAt, clock_.now());
    EXPECT_FALSE(controller_->state().isLoading);

    const LocalService first = listed_[0];
    controller_->stop(first);
    EXPECT_EQ(controller_->state().stoppingServiceIDs, std::set<std::string>{first.id()});
    controller_->stop(listed_[1]);  // a second stop while one runs: ignored
    controller_->load();            // and a scan as well
    EXPECT_EQ(runner_.pending(), 1u);
    runner_.finishAll();
    EXPECT_EQ(stopped_, std::vector{first});
    EXPECT_EQ(pauses_, std::vector{0.6});
    // The rescan lists only "vite"; the stopped row keeps its place, marked stopped, so no
    // other row moves under the pointer.
    EXPECT_EQ(controller_->state().services, (std::vector{first, service(200, "vite")}));
    EXPECT_EQ(controller_->state().stoppedServiceIDs, std::set<std::string>{first.id()});
    EXPECT_EQ(controller_->state().runningCount(), 1u);
    EXPECT_FALSE(controller_->state().error);
    EXPECT_TRUE(controller_->state().stoppingServiceIDs.empty());
    // Each start and each end of a task was told.
    EXPECT_EQ(changes_, 4);
    // The next scan shows what it found.
    controller_->load();
    runner_.finishAll();
    EXPECT_EQ(controller_->state().services, std::vector{service(200, "vite")});
    EXPECT_TRUE(controller_->state().stoppedServiceIDs.empty());
}

TEST_F(LocalServicesControllerTest, StopMessagesSurviveTheFollowUpRescan) {
    const std::string changed =
        "PID теперь принадлежит другому процессу. Список обновлен без остановки.";
    const struct {
        const char* name;
        std::optional<std::string> stopError;
        bool ignoresSigterm;
        int scanFailures;
        std::string message;
        std::size_t listedAfter;
    } cases[] = {
        {"refused, rescan works", changed, false, 0, changed, 2},
        {"refused, rescan fails too", changed, false, 1, changed, 0},
        {"process ignores SIGTERM", std::nullopt, true, 0,
         "SIGTERM отправлен, но процесс пока продолжает работать.", 2},
        {"rescan after the signal fails", std::nullopt, false, 1,
         "Не удалось получить список локальных TCP-сервисов.", 1},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        makeController();
        listed_ = {service(100, "node"), service(200, "vite")};
        stopError_ = testCase.stopError;
        ignoresSigterm_ = testCase.ignoresSigterm;
        scanFailures_ = testCase.scanFailures;
        controller_->stop(listed_[0]);
        runner_.finishAll();
        const auto& state = controller_->state();
        EXPECT_EQ(state.error, testCase.message);
        EXPECT_EQ(state.services.size(), testCase.listedAfter);
        EXPECT_TRUE(state.stoppingServiceIDs.empty());
        EXPECT_FALSE(controller_->isStopRunning());
    }
}

TEST_F(LocalServicesControllerTest, ScanFailureKeepsTheListAndShowsTheMessage) {
    listed_ = {service(100, "node")};
    controller_->load();
    runner_.finishAll();
    scanFailures_ = 1;
    controller_->load();
    runner_.finishAll();
    EXPECT_EQ(controller_->state().error, "Не удалось получить список локальных TCP-сервисов.");
    EXPECT_EQ(controller_->state().services.size(), 1u);
    EXPECT_FALSE(controller_->state().isLoading);
}

// At the end of the application, work still running hands back nothing and no new work starts.
TEST_F(LocalServicesControllerTest, WorkFinishingAfterShutDownIsDropped) {
    listed_ = {service(100, "node")};
    controller_->load();
    controller_->shutDown();
    EXPECT_FALSE(controller_->isScanRunning());
    runner_.finishAll();
    EXPECT_TRUE(controller_->state().services.empty());
    controller_->load();
    EXPECT_EQ(runner_.pending(), 0u);
}

}  // namespace
}  // namespace kestrane::app
