#include "ui/UsageChartView.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include <QEnterEvent>
#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>

#include "ui/PanelTheme.h"
#include "ui/PanelWidgetKit.h"

namespace kestrane::ui {

namespace {

using history::BurnBucket;
using history::UsageSample;
using history::UsageTransition;

// Room around the plot: the axis title and the readout above, the scale values to the right and
// the dates below.
constexpr qreal kRightRoom = 36;
constexpr qreal kVerticalRoom = 58;
constexpr qreal kTopRoom = 32;
// A sample this close to the pointer's time is the one read out.
constexpr double kNearSeconds = 900;
constexpr int kGridLines = 5;
constexpr int kDayLines = 8;

// The system font at a size in pixels, which is what the panel's sizes are measured in. The
// digits of the fonts we meet on Linux desktops are tabular, so columns of figures line up.
QFont chartFont(int pixelSize, QFont::Weight weight = QFont::Normal) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

// Printed with a point whatever the process locale says.
QString fixedDecimals(double value, int decimals) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return QStringLiteral("0");
    return QString::fromLatin1(buffer.data(), static_cast<int>(result.ptr - buffer.data()));
}

QString fixedOneDecimal(double value) { return fixedDecimals(value, 1); }

// As many decimals as the value needs (up to three): a quarter of 1 reads 0.25, not 0.2.
QString scaleValueText(double value) {
    constexpr int kMostDecimals = 3;
    for (int decimals = 0; decimals < kMostDecimals; ++decimals) {
        const double shifted = value * std::pow(10.0, decimals);
        if (std::abs(shifted - std::round(shifted)) < 1e-9 * std::max(1.0, std::abs(shifted))) {
            return fixedDecimals(value, decimals);
        }
    }
    return fixedDecimals(value, kMostDecimals);
}

// Whether the segment a-b passes through `rect` (or ends inside it).
bool segmentCrosses(QPointF a, QPointF b, const QRectF& rect) {
    if (std::max(a.x(), b.x()) < rect.left() || std::min(a.x(), b.x()) > rect.right() ||
        std::max(a.y(), b.y()) < rect.top() || std::min(a.y(), b.y()) > rect.bottom()) {
        return false;
    }
    if (rect.contains(a) || rect.contains(b)) return true;
    const QLineF segment(a, b);
    const QLineF edges[] = {{rect.topLeft(), rect.topRight()},
                            {rect.topRight(), rect.bottomRight()},
                            {rect.bottomRight(), rect.bottomLeft()},
                            {rect.bottomLeft(), rect.topLeft()}};
    for (const QLineF& edge : edges) {
        if (segment.intersects(edge, nullptr) == QLineF::BoundedIntersection) return true;
    }
    return false;
}

// Percentage points per hour, for buckets with observed time.
std::optional<double> rateOf(const BurnBucket& bucket) {
    if (!(bucket.observedSeconds > 0)) return std::nullopt;
    return bucket.usedPercent / bucket.observedSeconds * 3600;
}

const NamedColor& transitionColor(UsageTransition::Kind kind) {
    return kind == UsageTransition::Kind::reset ? PanelTheme::running() : PanelTheme::warning();
}

QPen strokePen(const QColor& color, qreal width, bool dashed) {
    QPen pen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (dashed) {
        // Qt measures dashes in line widths; the pattern is 3 on, 3 off in pixels.
        pen.setDashPattern({3 / width, 3 / width});
        pen.setDashOffset(0);
    }
    return pen;
}

double remainingOf(const UsageSample& sample) { return std::max(0.0, 100.0 - sample.usedPercent); }

// Builds a polyline into a path, keeping of the points that fall into one pixel column only
// the first, the lowest, the highest and the last, in their order. A week of readings puts
// dozens into each column; stroking them all would cost many times the paint budget and show
// nothing more.
class ColumnReducer {
  public:
    explicit ColumnReducer(QPainterPath& path) : path_(path) {}

    // Continues the polyline at `point`, or starts a new piece there when it is elsewhere.
    void continueFrom(QPointF point) {
        if (last_ && *last_ == point) return;
        flush();
        path_.moveTo(point);
        column_ = columnOf(point);
        last_ = point;
    }

    void lineTo(QPointF point) {
        const auto column = columnOf(point);
        if (column != column_) {
            flush();
            column_ = column;
        }
        const Kept kept{order_++, point};
        if (!first_) first_ = kept;
        if (!lowest_ || point.y() > lowest_->point.y()) lowest_ = kept;
        if (!highest_ || point.y() < highest_->point.y()) highest_ = kept;
        latest_ = kept;
        last_ = point;
    }

    void finish() { flush(); }
    const std::optional<QPointF>& lastPoint() const { return last_; }

  private:
    struct Kept {
        long long order;
        QPointF point;
    };

    static long long columnOf(QPointF point) {
        return static_cast<long long>(std::floor(point.x()));
    }

    void flush() {
        std::array<std::optional<Kept>, 4> kept{first_, lowest_, highest_, latest_};
        std::sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
            if (!a || !b) return a.has_value() && !b.has_value();
            return a->order < b->order;
        });
        long long previous = -1;
        for (const auto& entry : kept) {
            if (!entry || entry->order == previous) continue;
            path_.lineTo(entry->point);
            previous = entry->order;
        }
        first_.reset();
        lowest_.reset();
        highest_.reset();
        latest_.reset();
    }

    QPainterPath& path_;
    long long column_ = 0;
    long long order_ = 0;
    std::optional<Kept> first_;
    std::optional<Kept> lowest_;
    std::optional<Kept> highest_;
    std::optional<Kept> latest_;
    std::optional<QPointF> last_;
};

}  // namespace

UsageChartView::UsageChartView(history::UsageAnalytics analytics, Style style, QWidget* parent)
    : UsageChartView(std::move(analytics), style, platform::Calendar::current(), parent) {}

UsageChartView::UsageChartView(history::UsageAnalytics analytics, Style style,
                               platform::Calendar calendar, QWidget* parent)
    : QWidget(parent),
      analytics_(std::move(analytics)),
      style_(style),
      calendar_(std::move(calendar)),
      timeline_(analytics_) {
    // Both are fixed with the data, so painting does no date formatting or scanning of them.
    transitions_ = timeline_.transitions();
    for (int k = 0; k < kDayLines; ++k) {
        dayLabels_.push_back(dateText(
            timeline_.domain.start + timeline_.domain.duration() * k / (kDayLines - 1), "d MMM"));
    }
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    // Assistive technology reads the chart as one picture with a sentence about it.
    const QString summary = QString::fromStdString(usageChartSummary(analytics_, timeline_));
    setAccessibleName(summary);
    setAccessibleDescription(summary);
}

QRectF UsageChartView::plotRect() const {
    const qreal width = this->width() - kRightRoom;
    const qreal height = this->height() - kVerticalRoom;
    if (width <= 0 || height <= 0) return {};
    return QRectF(0, kTopRoom, width, height);
}

const std::vector<BurnBucket>& UsageChartView::burnBuckets() const {
    if (!burnBuckets_) {
        burnBuckets_ =
            analytics_.buckets(timeline_.domain.start, timeline_.domain.end, burnBucketCount);
    }
    return *burnBuckets_;
}

double UsageChartView::scaleTop() const {
    if (style_ == Style::remaining) return 100;
    double largest = 0;
    bool any = false;
    for (const auto& bucket : burnBuckets()) {
        if (const auto rate = rateOf(bucket)) {
            largest = any ? std::max(largest, *rate) : *rate;
            any = true;
        }
    }
    double m = any ? largest * 1.1 : 1;
    if (!(m >= 1) || !std::isfinite(m)) m = 1;
    const double p = std::pow(10.0, std::floor(std::log10(m)));
    for (const double step : {p, 2 * p, 5 * p}) {
        if (step >= m) return step;
    }
    return 10 * p;
}

std::vector<QString> UsageChartView::scaleLabels() const {
    const double top = scaleTop();
    std::vector<QString> labels;
    for (int i = 0; i < kGridLines; ++i) {
        labels.push_back(scaleValueText(top * (kGridLines - 1 - i) / (kGridLines - 1)));
    }
    return labels;
}

qreal UsageChartView::xOf(platform::Date date, const QRectF& plot) const {
    return plot.left() +
           (date - timeline_.domain.start) / timeline_.domain.duration() * plot.width();
}

qreal UsageChartView::yOf(double value, const QRectF& plot) const {
    const double top = style_ == Style::remaining ? 100 : scaleTop();
    return plot.bottom() - value / top * plot.height();
}

QString UsageChartView::dateText(platform::Date date, const char* pattern) const {
    return PanelWidgetKit::keepUnitsWithNumbers(
        QString::fromStdString(calendar_.format(date, pattern, "ru_RU")));
}

std::optional<UsageChartView::Hover> UsageChartView::computeHover() const {
    const QRectF plot = plotRect();
    if (!hoverX_ || plot.isEmpty() || *hoverX_ < plot.left() || *hoverX_ > plot.right()) {
        return std::nullopt;
    }
    const double fraction = (*hoverX_ - plot.left()) / plot.width();
    const platform::Date time = timeline_.domain.start + fraction * timeline_.domain.duration();
    const QString separator = QStringLiteral(" · ");
    if (style_ == Style::burn) {
        const auto& buckets = burnBuckets();
        if (buckets.empty()) return std::nullopt;
        const auto index = std::clamp<long long>(
            static_cast<long long>(std::floor(fraction * static_cast<double>(buckets.size()))), 0,
            static_cast<long long>(buckets.size()) - 1);
        const BurnBucket& bucket = buckets[static_cast<std::size_t>(index)];
        if (const auto rate = rateOf(bucket)) {
            return Hover{dateText(bucket.start) + separator + fixedOneDecimal(*rate) +
                             QStringLiteral("\u00A0п.п./ч"),
                         std::nullopt};
        }
        return Hover{QStringLiteral("Нет наблюдений") + separator + dateText(bucket.start),
                     std::nullopt};
    }

    const auto& samples = timeline_.samples;
    // Samples are in date order: the nearest one is beside the first one not earlier.
    const auto later = std::lower_bound(
        samples.begin(), samples.end(), time,
        [](const UsageSample& sample, platform::Date date) { return sample.date < date; });
    const UsageSample* nearest = nullptr;
    if (later != samples.end()) nearest = &*later;
    if (later != samples.begin()) {
        const UsageSample& earlier = *std::prev(later);
        if (!nearest || time - earlier.date <= nearest->date - time) nearest = &earlier;
    }
    if (nearest && std::abs(nearest->date - time) <= kNearSeconds) {
        const auto remaining = static_cast<long long>(std::round(remainingOf(*nearest)));
        return Hover{dateText(nearest->date) + separator + QString::number(remaining) +
                         QStringLiteral("% осталось"),
                     *nearest};
    }
    // The kept sample before the 7 days counts too: the line runs from it to the first one.
    const auto& all = analytics_.samples;
    const bool betweenSamples = !all.empty() && all.front().date < time && time < all.back().date;
    return Hover{
        (betweenSamples ? QStringLiteral("Между наблюдениями") : QStringLiteral("Нет наблюдений")) +
            separator + dateText(time),
        std::nullopt};
}

QString UsageChartView::readout() const { return hover_ ? hover_->text : QString(); }

void UsageChartView::paintEvent(QPaintEvent*) {
    const QRectF plot = plotRect();
    if (plot.isEmpty()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    painter.setFont(chartFont(10));
    painter.setPen(PanelTheme::muted().resolve(*this));
    painter.drawText(QRectF(0, 0, width(), 14), Qt::AlignLeft | Qt::AlignVCenter,
                     style_ == Style::remaining
                         ? QStringLiteral("Осталось, %")
                         : QStringLiteral("Темп, п.п./ч · средний за интервал"));

    drawGrid(painter, plot);

    painter.save();
    painter.setClipRect(plot.adjusted(-6, -6, 6, 6));
    if (style_ == Style::remaining) {
        drawRemaining(painter, plot);
    } else {
        drawBurn(painter, plot);
    }
    drawTransitions(painter, plot);
    painter.restore();

    if (timeline_.samples.empty()) {
        painter.setFont(chartFont(11));
        painter.setPen(PanelTheme::muted().resolve(*this));
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("Нет наблюдений за этот период"));
    }

    drawHover(painter, plot);
}

void UsageChartView::drawGrid(QPainter& painter, const QRectF& plot) const {
    const QColor separator = PanelTheme::separator().resolve(*this);
    const QColor muted = PanelTheme::muted().resolve(*this);
    const auto labels = scaleLabels();
    painter.setFont(chartFont(9));
    for (int i = 0; i < kGridLines; ++i) {
        const qreal y = plot.top() + plot.height() * i / (kGridLines - 1);
        painter.setPen(QPen(separator, 0.5));
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(muted);
        painter.drawText(QRectF(plot.right() + 7, y - 6, kRightRoom - 7, 12),
                         Qt::AlignLeft | Qt::AlignVCenter, labels[static_cast<std::size_t>(i)]);
    }

    // Day lines with their dates; a date that would run into the previous one is left out.
    const QColor dayLine = withAlpha(separator, 0.35);
    painter.setPen(QPen(dayLine, 0.5));
    for (int k = 0; k < kDayLines; ++k) {
        const qreal x = plot.left() + plot.width() * k / (kDayLines - 1);
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    painter.setPen(muted);
    for (const DateLabel& label : dateLabels()) {
        painter.drawText(label.rect, Qt::AlignLeft | Qt::AlignVCenter, label.text);
    }
}

std::vector<UsageChartView::DateLabel> UsageChartView::dateLabels() const {
    std::vector<DateLabel> labels;
    const QRectF plot = plotRect();
    if (plot.isEmpty()) return labels;
    const QFontMetricsF metrics(chartFont(9));
    qreal previousRight = -1e9;
    for (int k = 0; k < kDayLines; ++k) {
        const qreal x = plot.left() + plot.width() * k / (kDayLines - 1);
        const QString& text = dayLabels_[static_cast<std::size_t>(k)];
        // The drawn width, rounded up: a label's last letter may reach past its advance.
        const qreal textWidth = std::ceil(std::max(metrics.horizontalAdvance(text),
                                                   metrics.boundingRect(text).right())) +
                                1;
        // Centred on its line, but kept inside the view at either end.
        const qreal left = std::clamp(x - textWidth / 2, 0.0, std::max(0.0, width() - textWidth));
        if (left < previousRight + dateGap) continue;
        previousRight = left + textWidth;
        labels.push_back({text, QRectF(left, plot.bottom() + 5, textWidth, 12)});
    }
    return labels;
}

void UsageChartView::drawRemaining(QPainter& painter, const QRectF& plot) const {
    const QColor information = PanelTheme::information().resolve(*this);

    // One path per way of drawing keeps a long history to a handful of strokes.
    QPainterPath areaPath;
    QPainterPath observedPath;
    QPainterPath gapPath;
    QPainterPath resetPath;
    QPainterPath otherStepPath;
    ColumnReducer area(areaPath);
    ColumnReducer observed(observedPath);
    ColumnReducer gaps(gapPath);
    ColumnReducer resetSteps(resetPath);
    ColumnReducer otherSteps(otherStepPath);
    std::optional<qreal> areaStartX;
    const double xScale = plot.width() / timeline_.domain.duration();
    const double yScale = plot.height() / 100;
    const auto toPlot = [&](const UsageChartPoint& point) {
        return QPointF(plot.left() + (point.date - timeline_.domain.start) * xScale,
                       plot.bottom() - point.remaining * yScale);
    };
    for (const auto& connection : timeline_.connections) {
        ColumnReducer* line = &observed;
        if (connection.isGap()) line = &gaps;
        if (const auto* transition = connection.transition()) {
            line = transition->kind == UsageTransition::Kind::reset ? &resetSteps : &otherSteps;
        }
        const auto& points = connection.points;
        const QPointF first = toPlot(points.front());
        line->continueFrom(first);
        if (!areaStartX) areaStartX = first.x();
        area.continueFrom(first);
        for (std::size_t i = 1; i < points.size(); ++i) {
            const QPointF point = toPlot(points[i]);
            line->lineTo(point);
            area.lineTo(point);
        }
    }
    for (ColumnReducer* reducer : {&area, &observed, &gaps, &resetSteps, &otherSteps}) {
        reducer->finish();
    }

    if (areaStartX) {
        // The area is closed straight down to the plot bottom at both ends.
        areaPath.lineTo(area.lastPoint()->x(), plot.bottom());
        areaPath.lineTo(*areaStartX, plot.bottom());
        areaPath.closeSubpath();
        QLinearGradient gradient(0, plot.top(), 0, plot.bottom());
        gradient.setColorAt(0, withAlpha(information, 0.18));
        gradient.setColorAt(1, withAlpha(information, 0.02));
        painter.save();
        painter.setClipRect(plot);
        painter.fillPath(areaPath, gradient);
        painter.restore();
    }

    painter.setBrush(Qt::NoBrush);
    painter.strokePath(gapPath, strokePen(withAlpha(information, 0.65), 1.5, true));
    painter.strokePath(observedPath, strokePen(information, 1.5, false));
    painter.strokePath(
        resetPath,
        strokePen(transitionColor(UsageTransition::Kind::reset).resolve(*this), 1.5, true));
    painter.strokePath(
        otherStepPath,
        strokePen(transitionColor(UsageTransition::Kind::correction).resolve(*this), 1.5, true));

    if (!timeline_.samples.empty()) {
        const UsageSample& latest = timeline_.samples.back();
        drawDot(painter, QPointF(xOf(latest.date, plot), yOf(remainingOf(latest), plot)),
                information);
    }
}

void UsageChartView::drawBurn(QPainter& painter, const QRectF& plot) const {
    const auto& buckets = burnBuckets();
    if (buckets.empty()) return;
    const QColor information = PanelTheme::information().resolve(*this);
    const QColor empty = withAlpha(PanelTheme::muted().resolve(*this), 0.5);
    const double top = scaleTop();
    const qreal slot = plot.width() / static_cast<qreal>(buckets.size());
    QPainterPath bars;
    QPainterPath dashes;
    for (std::size_t k = 0; k < buckets.size(); ++k) {
        const qreal left = plot.left() + slot * static_cast<qreal>(k);
        if (const auto rate = rateOf(buckets[k])) {
            const qreal height = std::max<qreal>(2, *rate / top * plot.height());
            bars.addRoundedRect(QRectF(left + 1, plot.bottom() - height, slot - 2, height), 1.5,
                                1.5);
        } else {
            dashes.moveTo(left, plot.bottom() - 1);
            dashes.lineTo(left + slot, plot.bottom() - 1);
        }
    }
    painter.fillPath(bars, information);
    painter.strokePath(dashes, strokePen(empty, 1, true));
}

void UsageChartView::drawTransitions(QPainter& painter, const QRectF& plot) const {
    painter.setFont(chartFont(9));
    for (const auto& transition : transitions_) {
        const QColor color = transitionColor(transition.kind).resolve(*this);
        const qreal x = xOf(transition.date, plot);
        painter.setPen(strokePen(color, 0.75, true));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(x, plot.top()), 2, 2);
        painter.setBrush(Qt::NoBrush);
    }
    for (const TransitionLabel& label : transitionLabels()) {
        painter.setPen(transitionColor(label.kind).resolve(*this));
        painter.drawText(label.rect, Qt::AlignLeft | Qt::AlignVCenter, label.text);
    }
}

std::vector<UsageChartView::TransitionLabel> UsageChartView::transitionLabels() const {
    const QRectF plot = plotRect();
    if (plot.isEmpty()) return {};
    if (labelCache_ && labelCache_->first == size()) return labelCache_->second;

    const QFontMetricsF metrics(chartFont(9));
    // The series as drawn, in view coordinates, to keep the labels off it.
    std::vector<std::pair<QPointF, QPointF>> segments;
    if (style_ == Style::remaining) {
        for (const auto& connection : timeline_.connections) {
            for (std::size_t i = 1; i < connection.points.size(); ++i) {
                const auto& a = connection.points[i - 1];
                const auto& b = connection.points[i];
                segments.emplace_back(QPointF(xOf(a.date, plot), yOf(a.remaining, plot)),
                                      QPointF(xOf(b.date, plot), yOf(b.remaining, plot)));
            }
        }
    }
    const auto crossings = [&](const QRectF& rect) {
        // The line is 1.5 wide; a little air beyond that.
        const QRectF clear = rect.adjusted(-2, -2, 2, 2);
        int count = 0;
        for (const auto& [a, b] : segments) count += segmentCrosses(a, b, clear) ? 1 : 0;
        return count;
    };

    std::vector<TransitionLabel> labels;
    for (const auto& transition : transitions_) {
        QString text;
        if (transition.kind == UsageTransition::Kind::correction) {
            text = QStringLiteral("Коррекция");
        } else if (transition.kind == UsageTransition::Kind::periodChange) {
            text = QStringLiteral("Смена периода");
        }
        if (text.isEmpty()) continue;
        const qreal x = xOf(transition.date, plot);
        const qreal textWidth = std::ceil(metrics.horizontalAdvance(text)) + 1;
        // Beside the marker's dot at the top, or at the foot of its line when the series runs
        // along the top there; right of the line where it fits inside the plot, else left.
        std::vector<QRectF> candidates;
        for (const qreal top : {plot.top() + 1, plot.bottom() - 13}) {
            for (const qreal left : {x + 5, x - 5 - textWidth}) {
                if (left >= plot.left() && left + textWidth <= plot.right()) {
                    candidates.emplace_back(left, top, textWidth, 12);
                }
            }
        }
        if (candidates.empty()) candidates.emplace_back(x + 5, plot.top() + 1, textWidth, 12);
        // Labels never overlap one another: with transitions close together (a session window
        // with a change every few hours) a label that finds no free place is left out, and its
        // marker line and dot still show where the change was.
        const auto isFree = [&](const QRectF& rect) {
            const QRectF spaced = rect.adjusted(-4, 0, 4, 0);
            return std::none_of(labels.begin(), labels.end(), [&](const TransitionLabel& placed) {
                return placed.rect.intersects(spaced);
            });
        };
        std::erase_if(candidates, [&](const QRectF& candidate) { return !isFree(candidate); });
        if (candidates.empty()) continue;
        const QRectF* best = &candidates.front();
        int fewest = crossings(*best);
        for (const QRectF& candidate : candidates) {
            if (fewest == 0) break;
            if (const int count = crossings(candidate); count < fewest) {
                fewest = count;
                best = &candidate;
            }
        }
        labels.push_back({text, *best, transition.kind});
    }
    labelCache_ = std::make_pair(size(), labels);
    return labels;
}

void UsageChartView::drawHover(QPainter& painter, const QRectF& plot) const {
    const auto& current = hover_;
    if (!current) return;
    const qreal x = *hoverX_;
    painter.setPen(strokePen(withAlpha(PanelTheme::muted().resolve(*this), 0.6), 0.75, true));
    painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    if (current->sample) {
        drawDot(painter,
                QPointF(xOf(current->sample->date, plot), yOf(remainingOf(*current->sample), plot)),
                PanelTheme::information().resolve(*this));
    }
    painter.setFont(chartFont(10));
    painter.setPen(PanelTheme::text().resolve(*this));
    painter.drawText(QRectF(0, 15, width(), 14), Qt::AlignLeft | Qt::AlignVCenter, current->text);
}

void UsageChartView::drawDot(QPainter& painter, QPointF center, const QColor& color) const {
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(withAlpha(color, 0.14));
    painter.drawEllipse(center, 6, 6);
    painter.setBrush(PanelTheme::card().resolve(*this));
    painter.drawEllipse(center, 3.5, 3.5);
    painter.setBrush(color);
    painter.drawEllipse(center, 2.5, 2.5);
    painter.restore();
}

void UsageChartView::mouseMoveEvent(QMouseEvent* event) {
    hoverX_ = event->position().x();
    hover_ = computeHover();
    update();
    QWidget::mouseMoveEvent(event);
}

void UsageChartView::enterEvent(QEnterEvent* event) {
    hoverX_ = event->position().x();
    hover_ = computeHover();
    update();
    QWidget::enterEvent(event);
}

void UsageChartView::leaveEvent(QEvent* event) {
    hoverX_.reset();
    hover_ = computeHover();
    update();
    QWidget::leaveEvent(event);
}

void UsageChartView::resizeEvent(QResizeEvent* event) {
    // The pointer now stands over another time.
    hover_ = computeHover();
    QWidget::resizeEvent(event);
}

void UsageChartView::changeEvent(QEvent* event) {
    // Colours are resolved while painting; a new palette only needs a repaint.
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

}  // namespace kestrane::ui
