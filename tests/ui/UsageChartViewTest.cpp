#include "ui/UsageChartView.h"

#include <cmath>

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include <gtest/gtest.h>

#include "ui/PanelTheme.h"
#include "ui/UiArtifacts.h"

namespace kestrane::ui {
namespace {

using history::UsageAnalytics;
using history::UsageSample;
using history::UsageTransition;
using platform::Date;
using Style = UsageChartView::Style;
using testing::saveArtifact;

// 2025-05-12 09:00 UTC, noon in Moscow.
constexpr Date kNow{1'747'040'400};
constexpr double kHour = 3'600;
constexpr double kDay = 86'400;
constexpr double kMinute = 60;
const QSize kCardSize(408, 164);

platform::Calendar moscow() { return platform::Calendar("Europe/Moscow"); }

using testing::darkPalette;
using testing::lightPalette;

UsageAnalytics analyticsOf(std::vector<UsageSample> samples, double remaining = 60) {
    UsageAnalytics analytics;
    analytics.samples = std::move(samples);
    analytics.now = kNow;
    analytics.remainingPercent = remaining;
    return analytics;
}

// A working week: readings every 10 minutes from 09:00 to 19:00 Moscow time, nights as pauses,
// a correction on one afternoon and a reset known in advance at one midnight.
UsageAnalytics workingWeek() {
    std::vector<UsageSample> samples;
    const Date today = kNow - 12 * kHour;  // midnight in Moscow
    double used = 20;
    samples.push_back({today - 7 * kDay - 3 * kHour, used, true, std::nullopt});
    for (int day = 6; day >= 0; --day) {
        const Date midnight = today - day * kDay;
        for (int step = 0; step <= 60; ++step) {
            const Date date = midnight + 9 * kHour + step * 10 * kMinute;
            if (date > kNow) break;
            UsageSample sample{date, used, step == 0, std::nullopt};
            if (day == 2 && step == 0) {
                used = 1;
                sample.usedPercent = used;
                sample.transition = UsageTransition{midnight, UsageTransition::Kind::reset, false};
            } else if (day == 4 && step == 30) {
                used -= 4;
                sample.usedPercent = used;
                sample.startsSegment = true;
                sample.transition = UsageTransition{date, UsageTransition::Kind::correction, true};
            } else if (step > 0) {
                // Busier in the mornings, a lull after lunch.
                used += (step % 24 < 8 ? 0.35 : 0.12) + 0.05 * (day % 3);
                sample.usedPercent = used;
            }
            samples.push_back(sample);
        }
    }
    return analyticsOf(std::move(samples), 100 - used);
}

// The most the store keeps: 12 000 readings over the 7 days, wavy and jittery, so drawing that
// reduces them per pixel column can be compared by eye with the shape they make.
UsageAnalytics denseWeek() {
    std::vector<UsageSample> samples;
    constexpr int count = 12'000;
    for (int i = 0; i < count; ++i) {
        const double used = 50 + 30 * std::sin(i / 800.0) + (i % 7) * 0.4;
        samples.push_back({kNow - 7 * kDay + (i + 0.5) * 7 * kDay / count, used,
                           i == 0 || i % 1500 == 0, std::nullopt});
    }
    const double remaining = 100 - samples.back().usedPercent;
    return analyticsOf(std::move(samples), remaining);
}

// Renders what the view paints, without a window background, on a transparent image.
QImage paintedImage(UsageChartView& view) {
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

void movePointer(UsageChartView& view, qreal x) {
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 80), view.mapToGlobal(QPointF(x, 80)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
}

void leave(UsageChartView& view) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(&view, &event);
}

qreal xOf(const UsageChartView& view, Date date) {
    const QRectF plot = view.plotRect();
    const auto& domain = view.timeline().domain;
    return plot.left() + (date - domain.start) / domain.duration() * plot.width();
}

// Columns of the plot holding a pixel close to the information colour.
int informationColumns(const QImage& image, const QRectF& plot) {
    const QColor target = PanelTheme::information().resolve(false);
    int count = 0;
    for (int x = static_cast<int>(plot.left()); x < static_cast<int>(plot.right()); ++x) {
        for (int y = static_cast<int>(plot.top()); y < static_cast<int>(plot.bottom()); ++y) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > 200 && std::abs(pixel.red() - target.red()) < 30 &&
                std::abs(pixel.green() - target.green()) < 30 &&
                std::abs(pixel.blue() - target.blue()) < 30) {
                ++count;
                break;
            }
        }
    }
    return count;
}

// One usable hour at the start of bucket 40 consuming `rate` points: a bucket of that rate.
UsageAnalytics oneBucketAt(double rate) {
    const Date start = kNow - 2 * kDay;
    return analyticsOf({{start, 10, true, std::nullopt}, {start + kHour, 10 + rate, false, {}}});
}

TEST(UsageChartViewTest, PlotLeavesRoomForTitleValuesAndDatesAndNeedsPositiveSize) {
    UsageChartView view(workingWeek(), Style::remaining, moscow());
    view.resize(kCardSize);
    EXPECT_EQ(view.plotRect().size(), QSizeF(372, 106));

    const QSize tooSmall[] = {{0, 0}, {36, 164}, {408, 58}, {20, 20}};
    for (const QSize size : tooSmall) {
        SCOPED_TRACE(size.width() * 1000 + size.height());
        for (const Style style : {Style::remaining, Style::burn}) {
            UsageChartView small(workingWeek(), style, moscow());
            small.resize(size);
            EXPECT_TRUE(small.plotRect().isEmpty());
            if (size.isEmpty()) continue;
            const QImage image = paintedImage(small);
            bool anyInk = false;
            for (int y = 0; y < image.height() && !anyInk; ++y) {
                for (int x = 0; x < image.width() && !anyInk; ++x) {
                    anyInk = qAlpha(image.pixel(x, y)) != 0;
                }
            }
            EXPECT_FALSE(anyInk);
        }
    }
}

TEST(UsageChartViewTest, ScalesReadFromTopToBottom) {
    UsageChartView remaining(analyticsOf({}), Style::remaining, moscow());
    EXPECT_EQ(remaining.scaleLabels(), (std::vector<QString>{"100", "75", "50", "25", "0"}));

    // The burn scale's top is the first of 1, 2, 5 x 10^n not below the largest rate + 10 %;
    // each value has as many decimals as it needs.
    const struct {
        const char* name;
        std::optional<double> rate;
        double top;
        std::vector<QString> labels;
    } cases[] = {
        {"nothing observed", std::nullopt, 1, {"1", "0.75", "0.5", "0.25", "0"}},
        {"observed but idle", 0.0, 1, {"1", "0.75", "0.5", "0.25", "0"}},
        {"small rate", 0.5, 1, {"1", "0.75", "0.5", "0.25", "0"}},
        {"just over one with the margin", 0.95, 2, {"2", "1.5", "1", "0.5", "0"}},
        {"4.6 x 1.1 passes 5", 4.6, 10, {"10", "7.5", "5", "2.5", "0"}},
        {"9 x 1.1 stays under 10", 9.0, 10, {"10", "7.5", "5", "2.5", "0"}},
        {"next decade", 10.0, 20, {"20", "15", "10", "5", "0"}},
        {"45", 45.0, 50, {"50", "37.5", "25", "12.5", "0"}},
        {"3", 3.0, 5, {"5", "3.75", "2.5", "1.25", "0"}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        UsageChartView burn(testCase.rate ? oneBucketAt(*testCase.rate) : analyticsOf({}),
                            Style::burn, moscow());
        EXPECT_EQ(burn.scaleTop(), testCase.top);
        EXPECT_EQ(burn.scaleLabels(), testCase.labels);
    }
}

// Readings every half hour over the week, `used` percent give or take a little, with a
// correction of two points in the middle of the week.
UsageAnalytics weekAround(double used) {
    std::vector<UsageSample> samples;
    const Date correction = kNow - 3.5 * kDay;
    for (Date date = kNow - 7 * kDay + kMinute; date < kNow; date = date + 30 * kMinute) {
        const double wave = std::sin((date - kNow) / kDay * 3);
        UsageSample sample{date, used + wave, samples.empty(), std::nullopt};
        if (date >= correction && samples.back().date < correction) {
            sample.usedPercent -= 2;
            sample.startsSegment = true;
            sample.transition =
                UsageTransition{correction, UsageTransition::Kind::correction, false};
        }
        samples.push_back(sample);
    }
    return analyticsOf(std::move(samples), 100 - used);
}

TEST(UsageChartViewTest, CorrectionLabelKeepsClearOfTheSeries) {
    const struct {
        const char* name;
        double used;
    } cases[] = {
        {"series along the top", 2},
        {"series in the middle", 50},
        {"series along the bottom", 97},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        UsageChartView view(weekAround(testCase.used), Style::remaining, moscow());
        view.setPalette(lightPalette());
        view.resize(kCardSize);
        const auto labels = view.transitionLabels();
        ASSERT_EQ(labels.size(), 1U);
        EXPECT_EQ(labels[0].text, QStringLiteral("Коррекция"));
        const QRect box = labels[0].rect.toAlignedRect();
        EXPECT_TRUE(view.plotRect().contains(labels[0].rect));
        // The text fits its box.
        QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setPixelSize(9);
        EXPECT_LE(QFontMetricsF(font).horizontalAdvance(labels[0].text), labels[0].rect.width());
        // No pixel of the series line inside the label's box.
        const QImage image = paintedImage(view);
        saveArtifact(image, QStringLiteral("usage-chart-correction-%1").arg(testCase.used));
        EXPECT_EQ(informationColumns(image.copy(box), QRectF(0, 0, box.width(), box.height())), 0);
    }
}

TEST(UsageChartViewTest, TransitionLabelsCloseTogetherNeverOverlap) {
    // A session window whose period changed every five hours, all week.
    std::vector<UsageSample> samples;
    for (Date date = kNow - 7 * kDay + kMinute; date < kNow; date = date + 30 * kMinute) {
        const bool changes = !samples.empty() && samples.size() % 10 == 0;
        UsageSample sample{date, 40, samples.empty() || changes, std::nullopt};
        if (changes) {
            sample.transition = UsageTransition{date, UsageTransition::Kind::periodChange, false};
        }
        samples.push_back(sample);
    }
    UsageChartView view(analyticsOf(std::move(samples), 60), Style::remaining, moscow());
    view.resize(kCardSize);
    const auto labels = view.transitionLabels();
    ASSERT_FALSE(labels.empty());
    for (std::size_t i = 0; i < labels.size(); ++i) {
        EXPECT_TRUE(view.plotRect().contains(labels[i].rect));
        for (std::size_t j = i + 1; j < labels.size(); ++j) {
            EXPECT_FALSE(labels[i].rect.intersects(labels[j].rect)) << i << " and " << j;
        }
    }
    saveArtifact(paintedImage(view), QStringLiteral("usage-chart-period-changes"));
}

TEST(UsageChartViewTest, BurnBucketsAreComputedOnceOverTheSevenDays) {
    UsageChartView view(workingWeek(), Style::burn, moscow());
    view.resize(kCardSize);
    const auto& buckets = view.burnBuckets();
    ASSERT_EQ(buckets.size(), 56U);
    EXPECT_EQ(buckets.front().start, kNow - 7 * kDay);
    EXPECT_EQ(buckets.back().end, kNow);
    const auto* storage = buckets.data();
    paintedImage(view);
    movePointer(view, 100);
    paintedImage(view);
    EXPECT_EQ(view.burnBuckets().data(), storage);
}

TEST(UsageChartViewTest, RemainingReadoutNamesTheNearbySampleOrThePause) {
    const auto analytics = analyticsOf({
        {kNow - 3 * kDay, 20, true, std::nullopt},
        {kNow - 3 * kDay + 10 * kMinute, 22, false, std::nullopt},
        {kNow - kDay, 30, true, std::nullopt},
        {kNow, 40.4, true, std::nullopt},
    });
    UsageChartView view(analytics, Style::remaining, moscow());
    view.resize(kCardSize);
    const struct {
        const char* name;
        qreal x;
        QString readout;
    } cases[] = {
        {"on a sample", xOf(view, kNow - kDay), "11\u00A0мая, 12:00 · 70% осталось"},
        {"within 15 minutes of one", xOf(view, kNow - kDay + 14 * kMinute),
         "11\u00A0мая, 12:00 · 70% осталось"},
        {"the latest, rounded", xOf(view, kNow), "12\u00A0мая, 12:00 · 60% осталось"},
        {"between two samples", xOf(view, kNow - 2 * kDay),
         "Между наблюдениями · 10\u00A0мая, 12:00"},
        {"before the first", xOf(view, kNow - 5 * kDay), "Нет наблюдений · 7\u00A0мая, 12:00"},
        {"over the value labels", 390, ""},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        movePointer(view, testCase.x);
        EXPECT_EQ(view.readout(), testCase.readout);
    }
}

TEST(UsageChartViewTest, BurnReadoutNamesTheBucketAndItsRate) {
    const auto analytics = analyticsOf({
        {kNow - 3 * kDay, 20, true, std::nullopt},
        {kNow - 3 * kDay + 10 * kMinute, 22, false, std::nullopt},
        {kNow, 30, true, std::nullopt},
    });
    UsageChartView view(analytics, Style::burn, moscow());
    view.resize(kCardSize);
    const qreal slot = view.plotRect().width() / 56;
    movePointer(view, slot * 32.5);
    EXPECT_EQ(view.readout(), "9\u00A0мая, 12:00 · 12.0\u00A0п.п./ч");
    movePointer(view, slot * 33.5);
    EXPECT_EQ(view.readout(), "Нет наблюдений · 9\u00A0мая, 15:00");
    EXPECT_EQ(view.scaleTop(), 20);
}

TEST(UsageChartViewTest, LeavingTheViewRemovesGuideAndReadout) {
    for (const Style style : {Style::remaining, Style::burn}) {
        SCOPED_TRACE(static_cast<int>(style));
        UsageChartView view(workingWeek(), style, moscow());
        view.resize(kCardSize);
        const QImage before = paintedImage(view);
        movePointer(view, 200);
        EXPECT_EQ(view.hoverX(), 200);
        EXPECT_FALSE(view.readout().isEmpty());
        EXPECT_NE(paintedImage(view), before);
        leave(view);
        EXPECT_EQ(view.hoverX(), std::nullopt);
        EXPECT_TRUE(view.readout().isEmpty());
        EXPECT_EQ(paintedImage(view), before);
    }
}

TEST(UsageChartViewTest, SingleSampleShowsOneDotAndNoLine) {
    UsageChartView single(analyticsOf({{kNow - 2 * kDay, 50, true, std::nullopt}}),
                          Style::remaining, moscow());
    single.resize(kCardSize);
    single.setPalette(lightPalette());
    // The dot's 5-point disc in the information colour, and nothing else of it.
    const int dotColumns = informationColumns(paintedImage(single), single.plotRect());
    EXPECT_GE(dotColumns, 3);
    EXPECT_LE(dotColumns, 7);

    UsageChartView pair(analyticsOf({{kNow - 2 * kDay, 50, true, std::nullopt},
                                     {kNow - kDay, 60, false, std::nullopt}}),
                        Style::remaining, moscow());
    pair.resize(kCardSize);
    pair.setPalette(lightPalette());
    EXPECT_GT(informationColumns(paintedImage(pair), pair.plotRect()), 45);
}

TEST(UsageChartViewTest, IsOneAccessibleImageWithTheSummary) {
    const auto analytics = workingWeek();
    UsageChartView view(analytics, Style::burn, moscow());
    const QString expected =
        QString::fromStdString(usageChartSummary(analytics, UsageChartTimeline(analytics)));
    EXPECT_EQ(view.accessibleName(), expected);
    EXPECT_TRUE(expected.contains(QStringLiteral("Сбросов: 1.")));
    EXPECT_TRUE(expected.contains(QStringLiteral(" п.п. в час.")));
}

// Snapshots on the card they sit on in the panel, for a look at build/.../ui-artifacts.
TEST(UsageChartViewTest, SnapshotsInLightAndDark) {
    const struct {
        const char* name;
        Style style;
        UsageAnalytics analytics;
        std::optional<qreal> hoverX;
    } cases[] = {
        {"remaining", Style::remaining, workingWeek(), 300},
        {"burn", Style::burn, workingWeek(), 230},
        {"remaining-dense", Style::remaining, denseWeek(), 120},
        {"remaining-empty", Style::remaining, analyticsOf({}), std::nullopt},
        {"burn-empty", Style::burn, analyticsOf({}), 120},
    };
    for (const auto& testCase : cases) {
        for (const bool dark : {false, true}) {
            SCOPED_TRACE(std::string(testCase.name) + (dark ? " dark" : " light"));
            UsageChartView view(testCase.analytics, testCase.style, moscow());
            view.setPalette(dark ? darkPalette() : lightPalette());
            view.resize(kCardSize);
            if (testCase.hoverX) movePointer(view, *testCase.hoverX);
            QImage image(kCardSize + QSize(24, 24), QImage::Format_ARGB32_Premultiplied);
            image.fill(PanelTheme::card().resolve(dark));
            view.render(&image, QPoint(12, 12), QRegion(), QWidget::DrawChildren);
            saveArtifact(image, QStringLiteral("usage-chart-%1-%2")
                                    .arg(QString::fromLatin1(testCase.name),
                                         dark ? QStringLiteral("dark") : QStringLiteral("light")));
            EXPECT_EQ(view.readout().isEmpty(), !testCase.hoverX.has_value());
        }
    }
}

}  // namespace
}  // namespace kestrane::ui

namespace kestrane::ui {
namespace {

// However narrow the chart and however long the months' names, a date never touches the one
// before it: the first (pushed right by the view's edge) stays, a second that would run into it
// is left out.
TEST(UsageChartViewTest, DatesNeverTouchEachOther) {
    for (const int monthsLater : {0, 4, 6}) {  // May, September, November
        SCOPED_TRACE(monthsLater);
        UsageAnalytics analytics = analyticsOf({{kNow - 3 * kDay, 20, true, std::nullopt}});
        analytics.now = kNow + monthsLater * 30 * kDay;
        for (int width = 150; width <= 408; ++width) {
            SCOPED_TRACE(width);
            UsageChartView view(analytics, Style::remaining, moscow());
            view.resize(width, 164);
            const auto labels = view.dateLabels();
            ASSERT_GE(labels.size(), 2u);
            EXPECT_EQ(labels.front().rect.left(), 0);
            for (std::size_t i = 0; i < labels.size(); ++i) {
                EXPECT_GE(labels[i].rect.left(), 0);
                EXPECT_LE(labels[i].rect.right(), width);
                if (i > 0) {
                    EXPECT_GE(labels[i].rect.left() - labels[i - 1].rect.right(),
                              UsageChartView::dateGap);
                }
            }
            if (width % 16 != 0) continue;
            // As painted: empty columns between the first date's ink and the second's.
            const QImage image = paintedImage(view);
            const QRectF first = labels[0].rect;
            const QRectF second = labels[1].rect;
            const int top = static_cast<int>(first.top());
            const int bottom = static_cast<int>(first.bottom()) + 1;
            int lastInkOfFirst = -1;
            for (int x = 0; x < static_cast<int>(second.left()); ++x) {
                if (testing::columnHasInk(image, x, top, bottom)) lastInkOfFirst = x;
            }
            int firstInkOfSecond = image.width();
            for (int x = static_cast<int>(second.right()); x >= static_cast<int>(first.right());
                 --x) {
                if (testing::columnHasInk(image, x, top, bottom)) firstInkOfSecond = x;
            }
            EXPECT_GE(firstInkOfSecond - lastInkOfFirst, 4);
        }
    }
}

}  // namespace
}  // namespace kestrane::ui
