// Cost of building and drawing the panel's overview: the chart over a week of 12 000 samples
// and the forecast of a 32-day window as the board made them, the widgets and their layout.
// The forecast itself is made by the board once per refresh, outside the panel's renders.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QScrollArea>

#include "support/FixedClock.h"
#include "ui/PanelContent.h"
#include "ui/PanelFixtures.h"

namespace {

using namespace kestrane;
using testing::panel::kDay;
using testing::panel::kMorning;

QApplication& application() {
    static int argc = 1;
    static char name[] = "PanelBench";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's notes about the offscreen platform would mix into the benchmark's table.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QApplication instance(argc, argv);
    return instance;
}

struct Overview {
    testing::FixedClock clock{kMorning};
    platform::Calendar calendar{"Europe/Berlin"};
    std::unique_ptr<ui::PanelContent> controller;

    explicit Overview(bool burn) {
        application();

        auto state = testing::panel::forecastState(calendar, kMorning, 12'000, 60, 31 * kDay);
        state.usage->windows[0].durationMinutes = 43'200;
        controller = std::make_unique<ui::PanelContent>(clock, calendar);
        controller->setVisibleFrameHeight(1080);
        controller->setSettings({.chartShowsBurn = burn});
        testing::panel::showProviders(*controller, {state}, calendar, clock.now());
        controller->render();
        controller->resize(controller->preferredContentSize());
    }

    bool hasForecast() const {
        return controller->scrollView()->widget()->findChild<QWidget*>("usage-forecast");
    }

    void paint(QImage& image) const {
        image.fill(Qt::transparent);
        controller->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    }
};

// What one update of the open panel costs: render() (widgets and layout over the board's
// outlooks), then one paint of the whole panel, and dropping the previous document.
void renderAndPaint(benchmark::State& state, bool burn) {
    Overview overview(burn);
    if (!overview.hasForecast()) state.SkipWithError("no forecast");
    QImage image(overview.controller->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        overview.controller->render();
        overview.paint(image);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void BM_RenderOverviewRemaining(benchmark::State& state) { renderAndPaint(state, false); }
void BM_RenderOverviewBurn(benchmark::State& state) { renderAndPaint(state, true); }

// render() alone, without drawing.
void BM_BuildOverview(benchmark::State& state) {
    Overview overview(false);
    for (auto _ : state) {
        overview.controller->render();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// One paint of the built overview.
void BM_PaintOverview(benchmark::State& state) {
    Overview overview(false);
    QImage image(overview.controller->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) overview.paint(image);
}

}  // namespace

BENCHMARK(BM_RenderOverviewRemaining)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderOverviewBurn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildOverview)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintOverview)->Unit(benchmark::kMillisecond);
