#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>

#include <gtest/gtest.h>

#include "support/FixedClock.h"
#include "ui/PanelFixtures.h"
#include "ui/QuotaPanel.h"
#include "ui/QuotaPopoverViewController.h"
#include "ui/UiArtifacts.h"

// Every screen of the panel rendered offscreen in light and dark, saved under the build tree
// (ui-artifacts/screen-*.png) for a person to look at.
namespace kestrane::ui {
namespace {

using model::ProviderKind;
using testing::panel::kHour;
using testing::panel::kMorning;

struct Screen {
    const char* name;
    std::vector<ProviderViewState> states;
    QuotaPopoverViewController::Mode mode = QuotaPopoverViewController::Mode::overview;
    bool burn = false;
    localservices::LocalServicesViewState services;
    // Where to put the pointer, in the chart's coordinates.
    std::optional<QPointF> hover;
};

localservices::LocalService row(int pid, std::string name, std::vector<int> ports,
                                std::string command) {
    localservices::LocalService service;
    service.pid = pid;
    service.name = std::move(name);
    service.ports = std::move(ports);
    service.command = std::move(command);
    service.startToken = "token";
    return service;
}

std::vector<Screen> screens(const platform::Calendar& calendar) {
    auto forecast = testing::panel::forecastState(calendar, kMorning, 3000, 10, 30 * kHour);
    model::ProviderUsage codexUsage;
    codexUsage.provider = ProviderKind::codex;
    codexUsage.windows = {{.id = "codex-session", .usedPercent = 63, .durationMinutes = 300}};
    const ProviderViewState codex{ProviderKind::codex, true, codexUsage, std::nullopt, {}, {}};
    const ProviderViewState cursorFailed{
        ProviderKind::cursor, true, std::nullopt, "Не удалось подключиться к серверу.", {}, {}};
    const ProviderViewState kimiOff{ProviderKind::kimi, false, std::nullopt, std::nullopt, {}, {}};
    const ProviderViewState antigravityOff{
        ProviderKind::antigravity, false, std::nullopt, std::nullopt, {}, {}};
    const std::vector<ProviderViewState> all = {codex, cursorFailed, forecast, kimiOff,
                                                antigravityOff};

    auto web = row(41'230, "node", {3000, 9229},
                   "node /home/dev/src/shop/node_modules/.bin/vite --port 3000");
    web.cpuPercent = 3.4;
    web.memoryBytes = 312ull * 1024 * 1024;
    web.startedAt = kMorning - 5400;
    web.project = localservices::LocalServiceProject{"shop", "/home/dev/src/shop"};
    auto worker = row(52'001, "python3", {}, "python3 -m celery worker --loglevel=info");
    worker.cpuPercent = 87.0;
    worker.memoryBytes = 2ull * 1024 * 1024 * 1024 + 300ull * 1024 * 1024;
    worker.workingDirectory = "/srv/jobs";
    auto old = row(1'022, "ruby", {8080}, "ruby bin/rails server -p 8080");
    old.startToken.reset();
    old.cpuPercent = 0.0;

    std::vector<Screen> list;
    list.push_back({"overview-forecast-remaining",
                    all,
                    QuotaPopoverViewController::Mode::overview,
                    false,
                    {},
                    QPointF(300, 90)});
    list.push_back({"overview-forecast-burn",
                    all,
                    QuotaPopoverViewController::Mode::overview,
                    true,
                    {},
                    QPointF(200, 90)});
    Screen error{"overview-error", all};
    error.states[2].isEnabled = false;
    error.states[0].isEnabled = false;
    list.push_back(error);
    list.push_back({"overview-empty",
                    {{ProviderKind::codex, false, std::nullopt, std::nullopt, {}, {}}, kimiOff}});
    list.push_back({"settings", all, QuotaPopoverViewController::Mode::settings});
    list.push_back({"services",
                    all,
                    QuotaPopoverViewController::Mode::services,
                    false,
                    {.services = {web, worker, old},
                     .error = "SIGTERM отправлен, но процесс пока продолжает работать.",
                     .updatedAt = kMorning - 120,
                     .stoppingServiceIDs = {worker.id()}}});
    return list;
}

QPalette palette(bool dark) {
    QPalette palette;
    palette.setColor(QPalette::Window, dark ? QColor(0x20, 0x20, 0x20) : QColor(0xF0, 0xF0, 0xF0));
    palette.setColor(QPalette::WindowText, dark ? QColor(0xEE, 0xEE, 0xEE) : Qt::black);
    return palette;
}

TEST(PanelScreensSnapshotTest, EveryScreenInLightAndDark) {
    const platform::Calendar moscow("Europe/Moscow");
    const testing::FixedClock clock(kMorning);
    for (const Screen& screen : screens(moscow)) {
        for (const bool dark : {false, true}) {
            const QString name = QStringLiteral("screen-%1-%2")
                                     .arg(QString::fromLatin1(screen.name),
                                          dark ? QStringLiteral("dark") : QStringLiteral("light"));
            SCOPED_TRACE(name.toStdString());
            platform::MemoryPreferencesStore defaults;
            defaults.setValue("selectedProvider", "Claude");
            defaults.setValue("chartShowsBurn", screen.burn);
            QuotaPanel panel(QuotaPanel::Presentation::floating);
            panel.setPalette(palette(dark));
            auto* controller = new QuotaPopoverViewController(defaults, clock, moscow);
            controller->visibleFrameHeight = [] { return std::optional<int>(1080); };
            panel.setContentView(controller);
            controller->onSizeChange = [&panel](QSize size) { panel.resize(size); };
            controller->setStates(screen.states);
            controller->setLocalServices(screen.services);
            if (screen.mode == QuotaPopoverViewController::Mode::settings) controller->toggleMode();
            if (screen.mode == QuotaPopoverViewController::Mode::services)
                controller->showServices();
            controller->render();
            panel.resize(controller->preferredContentSize());
            panel.QWidget::show();
            QApplication::processEvents();
            if (screen.hover) {
                QWidget* chart = controller->scrollView()->widget()->findChild<QWidget*>(
                    QStringLiteral("usageChart"));
                ASSERT_NE(chart, nullptr);
                QMouseEvent move(QEvent::MouseMove, *screen.hover,
                                 chart->mapToGlobal(*screen.hover), Qt::NoButton, Qt::NoButton,
                                 Qt::NoModifier);
                QApplication::sendEvent(chart, &move);
            }

            QImage image(panel.size(), QImage::Format_ARGB32_Premultiplied);
            // Something like a desktop behind the translucent panel.
            image.fill(dark ? QColor(0x30, 0x38, 0x40) : QColor(0xA8, 0xB4, 0xC0));
            panel.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
            testing::saveArtifact(image, name);
            panel.close();

            EXPECT_EQ(image.width(), 448);
            EXPECT_GT(image.height(), 100);
            // The backdrop follows the palette.
            EXPECT_EQ(dark, image.pixelColor(30, image.height() - 6).lightness() < 128);
        }
    }
}

// Claude is running short of its week while Codex has room: the overview says to use Codex,
// in one line above the provider switch.
TEST(PanelScreensSnapshotTest, OverviewNamesTheServiceToUseNowAboveTheSwitch) {
    const platform::Calendar moscow("Europe/Moscow");
    const testing::FixedClock clock(kMorning);
    ProviderViewState claude =
        testing::panel::forecastState(moscow, kMorning, 3000, 10, 30 * kHour);
    claude.usage->windows[0].usedPercent = 80;
    claude.history["claude-week"] =
        testing::panel::weekSeries(ProviderKind::claude, "claude-week", kMorning, 3000, 80);
    claude.rhythms["claude-week"] = testing::panel::workdayRhythm(moscow, kMorning, 10, 3.0);

    model::ProviderUsage codexUsage;
    codexUsage.provider = ProviderKind::codex;
    codexUsage.updatedAt = kMorning - 60;
    codexUsage.windows = {{.id = "codex-session",
                           .usedPercent = 30,
                           .durationMinutes = 300,
                           .resetsAt = kMorning + 3 * kHour}};
    ProviderViewState codex{ProviderKind::codex, true, codexUsage, std::nullopt, {}, {}};
    history::UsageSeries series{ProviderKind::codex,  "codex-session",
                                std::string(64, 'a'), 300,
                                kMorning + 3 * kHour, {{kMorning - 60, 30, true, std::nullopt}}};
    codex.history.emplace("codex-session", series);
    const ProviderViewState cursorFailed{
        ProviderKind::cursor, true, std::nullopt, "Не удалось подключиться к серверу.", {}, {}};

    platform::MemoryPreferencesStore defaults;
    defaults.setValue("selectedProvider", "Claude");
    QuotaPanel panel(QuotaPanel::Presentation::floating);
    panel.setPalette(palette(false));
    auto* controller = new QuotaPopoverViewController(defaults, clock, moscow);
    controller->visibleFrameHeight = [] { return std::optional<int>(1080); };
    panel.setContentView(controller);
    controller->onSizeChange = [&panel](QSize size) { panel.resize(size); };
    controller->setStates({codex, cursorFailed, claude});
    controller->render();
    panel.resize(controller->preferredContentSize());
    panel.QWidget::show();
    QApplication::processEvents();

    QWidget* document = controller->scrollView()->widget();
    auto* line = document->findChild<QLabel*>(QStringLiteral("service-recommendation"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), QStringLiteral("Сейчас лучше Codex: осталось 70%, сброс через 3 ч. "
                                           "0 мин., а у Claude лимит может закончиться до "
                                           "сброса."));
    QWidget* providerSwitch = document->findChild<QWidget*>(QStringLiteral("providerSwitch"));
    ASSERT_NE(providerSwitch, nullptr);
    EXPECT_LT(line->mapTo(document, QPoint()).y(), providerSwitch->mapTo(document, QPoint()).y());

    QImage image(panel.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(0xA8, 0xB4, 0xC0));
    panel.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    testing::saveArtifact(image, QStringLiteral("screen-overview-recommendation-light"));
    panel.close();

    // Once Claude is fine again there is nothing to choose between.
    claude.usage->windows[0].usedPercent = 10;
    claude.rhythms["claude-week"] = testing::panel::workdayRhythm(moscow, kMorning, 10, 0.2);
    controller->setStates({codex, cursorFailed, claude});
    controller->render();
    EXPECT_EQ(controller->scrollView()->widget()->findChild<QLabel*>(
                  QStringLiteral("service-recommendation")),
              nullptr);
}

}  // namespace
}  // namespace kestrane::ui
