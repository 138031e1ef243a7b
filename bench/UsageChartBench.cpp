// Cost of drawing the 7-day usage chart at the largest history the store keeps (12 000 samples
// in one series), offscreen, at the size the panel gives it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include "history/UsageAnalytics.h"
#include "platform/Calendar.h"
#include "ui/PanelTheme.h"
#include "ui/UsageChartView.h"

namespace {

using kestrane::history::UsageAnalytics;
using kestrane::history::UsageSample;
using kestrane::history::UsageTransition;
using kestrane::platform::Date;
using kestrane::ui::UsageChartView;

// 2025-05-12 09:00 UTC.
constexpr Date kNow{1'747'040'400};
constexpr int kSamples = 12'000;

// Widgets need an application; one for the whole run.
void ensureApplication() {
    static int argc = 1;
    static char name[] = "UsageChartBench";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QApplication application(argc, argv);
}

// 12 000 readings spread over the 7 days (about one every 50 s), with a pause every few hours
// and a reset, a correction and a period change, so every kind of line and marker is drawn.
UsageAnalytics fullWeek() {
    UsageAnalytics analytics;
    analytics.now = kNow;
    const double step = 604'800.0 / kSamples;
    double used = 5;
    for (int i = 0; i < kSamples; ++i) {
        const Date date = kNow - 604'800 + step * (i + 1) - step / 2;
        UsageSample sample{date, used, i == 0 || i % 700 == 0, std::nullopt};
        if (i == 3'000 || i == 9'000) {
            used = 2;
            sample.usedPercent = used;
            sample.startsSegment = true;
            sample.transition = UsageTransition{date, UsageTransition::Kind::reset, true};
        } else if (i == 6'000) {
            used -= 3;
            sample.usedPercent = used;
            sample.startsSegment = true;
            sample.transition = UsageTransition{date, UsageTransition::Kind::correction, true};
        } else if (i == 7'500) {
            sample.startsSegment = true;
            sample.transition = UsageTransition{date, UsageTransition::Kind::periodChange, true};
        } else {
            used = std::min(100.0, used + (i % 37 < 20 ? 0.03 : 0.0));
            sample.usedPercent = used;
        }
        analytics.samples.push_back(sample);
    }
    analytics.remainingPercent = 100 - used;
    return analytics;
}

void paintChart(benchmark::State& state, UsageChartView::Style style, bool hovering) {
    ensureApplication();
    UsageChartView view(fullWeek(), style, kestrane::platform::Calendar("Europe/Moscow"));
    view.resize(408, 164);
    if (hovering) {
        QMouseEvent move(QEvent::MouseMove, QPointF(200, 80), QPointF(200, 80), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &move);
    }
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(kestrane::ui::PanelTheme::card().resolve(false));
        view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        benchmark::DoNotOptimize(image.constBits());
    }
}

// Building the view as the panel does on every render: timeline, summary, first paint.
void createAndPaint(benchmark::State& state, UsageChartView::Style style) {
    ensureApplication();
    const UsageAnalytics analytics = fullWeek();
    QImage image(408, 164, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        UsageChartView view(analytics, style, kestrane::platform::Calendar("Europe/Moscow"));
        view.resize(408, 164);
        view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_PaintRemaining(benchmark::State& state) {
    paintChart(state, UsageChartView::Style::remaining, false);
}
void BM_PaintRemainingHovered(benchmark::State& state) {
    paintChart(state, UsageChartView::Style::remaining, true);
}
void BM_PaintBurn(benchmark::State& state) {
    paintChart(state, UsageChartView::Style::burn, false);
}
void BM_PaintBurnHovered(benchmark::State& state) {
    paintChart(state, UsageChartView::Style::burn, true);
}
void BM_CreateAndPaintRemaining(benchmark::State& state) {
    createAndPaint(state, UsageChartView::Style::remaining);
}
void BM_CreateAndPaintBurn(benchmark::State& state) {
    createAndPaint(state, UsageChartView::Style::burn);
}

BENCHMARK(BM_PaintRemaining)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintRemainingHovered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintBurn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintBurnHovered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateAndPaintRemaining)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateAndPaintBurn)->Unit(benchmark::kMillisecond);

}  // namespace
