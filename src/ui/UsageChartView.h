#pragma once

#include <optional>
#include <utility>
#include <vector>

#include <QString>
#include <QWidget>

#include "history/UsageAnalytics.h"
#include "platform/Calendar.h"
#include "ui/UsageChartTimeline.h"

class QPainter;

namespace kestrane::ui {

// The 7-day history of one quota window: the remaining share as a line over time, or the
// average consumption rate in 3-hour bars. Its data are fixed at creation; only the pointer
// position changes, which shows a guide and a one-line readout. It takes the size its parent
// gives it.
class UsageChartView : public QWidget {
    Q_OBJECT
  public:
    enum class Style { remaining, burn };

    // Bars of the burn style: three hours each over the 7 days.
    static constexpr int burnBucketCount = 56;

    UsageChartView(history::UsageAnalytics analytics, Style style, QWidget* parent = nullptr);
    // Date labels in the given calendar's time zone rather than the system's.
    UsageChartView(history::UsageAnalytics analytics, Style style, platform::Calendar calendar,
                   QWidget* parent = nullptr);

    const history::UsageAnalytics& analytics() const { return analytics_; }
    Style style() const { return style_; }
    const UsageChartTimeline& timeline() const { return timeline_; }
    std::optional<qreal> hoverX() const { return hoverX_; }

    // Where the series is drawn, for the current size; empty when there is no room.
    QRectF plotRect() const;
    // The value at the top of the vertical scale: 100 for the remaining share, a 1-2-5 step for
    // the burn rate.
    double scaleTop() const;
    // The labels of the five grid lines, top to bottom.
    std::vector<QString> scaleLabels() const;
    // The burn style's buckets over the chart's 7 days, computed on first use and kept.
    const std::vector<history::BurnBucket>& burnBuckets() const;
    // The names of corrections and period changes beside their markers, placed for the current
    // size where the series does not run.
    struct TransitionLabel {
        QString text;
        QRectF rect;
        history::UsageTransition::Kind kind;
    };
    std::vector<TransitionLabel> transitionLabels() const;
    // The dates under the day lines, placed for the current size, left to right: each centred
    // on its line but kept inside the view, and left out when it would come closer than
    // dateGap to the one before (the first, pushed right by the view's edge, is always shown).
    struct DateLabel {
        QString text;
        QRectF rect;
    };
    static constexpr qreal dateGap = 6;
    std::vector<DateLabel> dateLabels() const;
    // The one line shown at the top while the pointer is over the plot; empty otherwise.
    QString readout() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    struct Hover {
        QString text;
        // The sample to mark with a dot, in the remaining style.
        std::optional<history::UsageSample> sample;
    };

    // Worked out when the pointer moves or the size changes, so painting formats no dates.
    std::optional<Hover> computeHover() const;
    qreal xOf(platform::Date date, const QRectF& plot) const;
    qreal yOf(double value, const QRectF& plot) const;
    QString dateText(platform::Date date, const char* pattern = "d MMM, HH:mm") const;

    void drawGrid(QPainter& painter, const QRectF& plot) const;
    void drawRemaining(QPainter& painter, const QRectF& plot) const;
    void drawBurn(QPainter& painter, const QRectF& plot) const;
    void drawTransitions(QPainter& painter, const QRectF& plot) const;
    void drawHover(QPainter& painter, const QRectF& plot) const;
    void drawDot(QPainter& painter, QPointF center, const QColor& color) const;

    history::UsageAnalytics analytics_;
    Style style_;
    platform::Calendar calendar_;
    UsageChartTimeline timeline_;
    std::vector<history::UsageTransition> transitions_;
    std::vector<QString> dayLabels_;
    std::optional<qreal> hoverX_;
    std::optional<Hover> hover_;
    mutable std::optional<std::vector<history::BurnBucket>> burnBuckets_;
    // Placed once per size: finding a free place looks at every segment of the series.
    mutable std::optional<std::pair<QSize, std::vector<TransitionLabel>>> labelCache_;
};

}  // namespace kestrane::ui
