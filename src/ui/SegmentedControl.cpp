#include "ui/SegmentedControl.h"

#include <algorithm>
#include <cmath>
#include <map>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include "ui/PanelTheme.h"
#include "ui/PanelWidgetKit.h"

namespace kestrane::ui {

namespace {

// One segment, a tab of the list.
class SegmentAccessible final : public QAccessibleInterface {
  public:
    SegmentAccessible(SegmentedControl* control, int index) : control_(control), index_(index) {}

    bool isValid() const override { return control_ && index_ < control_->segmentCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return control_ ? control_->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(control_.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        if (!control_ || t != QAccessible::Name) return {};
        return control_->label(index_);
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!control_) return {};
        const QRect local = control_->segmentRect(index_).toRect();
        return QRect(control_->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.selectable = true;
        state.selected = control_ && control_->selectedSegment() == index_;
        state.focusable = true;
        state.focused = state.selected && control_ && control_->hasFocus();
        return state;
    }

  private:
    QPointer<SegmentedControl> control_;
    int index_;
};

// The control: a list of tabs, named by the owner, its value the selected label.
class SegmentedControlAccessible final : public QAccessibleWidget {
  public:
    explicit SegmentedControlAccessible(SegmentedControl* control)
        : QAccessibleWidget(control, QAccessible::PageTabList) {}

    SegmentedControl* control() const { return static_cast<SegmentedControl*>(widget()); }
    int childCount() const override { return control()->segmentCount(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) return nullptr;
        auto found = children_.find(index);
        if (found == children_.end()) {
            auto* segment = new SegmentAccessible(control(), index);
            QAccessible::registerAccessibleInterface(segment);
            found = children_.emplace(index, segment).first;
        }
        return found->second;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (const auto& [index, segment] : children_) {
            if (segment == child) return index;
        }
        return -1;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return control()->label(control()->selectedSegment());
        return QAccessibleWidget::text(t);
    }
    ~SegmentedControlAccessible() override {
        for (const auto& [index, segment] : children_) {
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(segment));
        }
    }

  private:
    mutable std::map<int, QAccessibleInterface*> children_;
};

QAccessibleInterface* segmentedControlFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("kestrane::ui::SegmentedControl") && object &&
        object->isWidgetType()) {
        return new SegmentedControlAccessible(static_cast<SegmentedControl*>(object));
    }
    return nullptr;
}

}  // namespace

void SegmentedControl::installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(segmentedControlFactory);
        return true;
    }();
    (void)installed;
}

SegmentedControl::SegmentedControl(QStringList labels, int width, QWidget* parent)
    : QWidget(parent), labels_(std::move(labels)) {
    installAccessibility();
    setFixedSize(width, controlHeight);
    setCursor(Qt::PointingHandCursor);
    // Like the panel's buttons: Tab reaches it, a click does not leave a focus mark behind.
    setFocusPolicy(Qt::TabFocus);
}

void SegmentedControl::setSelectedSegment(int index) {
    if (index < -1 || index >= segmentCount() || index == selected_) return;
    selected_ = index;
    update();
}

std::vector<qreal> SegmentedControl::segmentWidths() const {
    const int count = std::max(1, segmentCount());
    const qreal available = width() - 4.0;
    std::vector<qreal> widths(static_cast<std::size_t>(count), available / count);
    // Equal segments while every label fits its share; otherwise each segment is as wide as
    // its label (drawn in the wider, selected weight) and the rest is shared out evenly, so
    // seven providers' names are read in full rather than cut to a few letters. Only when
    // even that does not fit are the segments equal again and the labels elided.
    const QFontMetricsF metrics(labelFont(true));
    std::vector<qreal> natural;
    qreal total = 0;
    bool fits = true;
    for (int i = 0; i < segmentCount(); ++i) {
        natural.push_back(std::ceil(metrics.horizontalAdvance(labels_[i])) + 2 * labelInset);
        total += natural.back();
        fits = fits && natural.back() <= widths[0];
    }
    if (fits || total > available) return widths;
    const qreal extra = (available - total) / count;
    for (int i = 0; i < segmentCount(); ++i)
        widths[static_cast<std::size_t>(i)] = natural[i] + extra;
    return widths;
}

QRectF SegmentedControl::segmentRect(int index) const {
    const std::vector<qreal> widths = segmentWidths();
    qreal left = 2;
    for (int i = 0; i < index && i < static_cast<int>(widths.size()); ++i) left += widths[i];
    const qreal segmentWidth =
        widths[static_cast<std::size_t>(std::clamp(index, 0, static_cast<int>(widths.size()) - 1))];
    return {left, 2, segmentWidth, height() - 4.0};
}

QRectF SegmentedControl::labelRect(int index) const {
    const QRectF segment = segmentRect(index);
    const qreal vertical = (segment.height() - 14) / 2;
    return segment.adjusted(labelInset, vertical, -labelInset, -vertical);
}

QFont SegmentedControl::labelFont(bool selected) const {
    QFont font = this->font();
    font.setPixelSize(11);
    font.setWeight(selected ? QFont::Medium : QFont::Normal);
    return font;
}

QString SegmentedControl::displayedLabel(int index) const {
    const QFontMetricsF metrics(labelFont(index == selected_));
    return metrics.elidedText(labels_.value(index), Qt::ElideRight, labelRect(index).width());
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    QColor background = PanelTheme::panel().resolve(*this);
    background.setAlphaF(0.6);
    QPainterPath whole;
    whole.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(whole, background);

    for (int i = 0; i < segmentCount(); ++i) {
        const bool selected = i == selected_;
        if (selected) {
            QColor card = PanelTheme::card().resolve(*this);
            card.setAlphaF(0.95);
            QPainterPath segment;
            segment.addRoundedRect(segmentRect(i), 6, 6);
            painter.fillPath(segment, card);
        }
        painter.setFont(labelFont(selected));
        painter.setPen(selected ? PanelTheme::text().resolve(*this)
                                : PanelTheme::muted().resolve(*this));
        painter.drawText(labelRect(i), Qt::AlignCenter, displayedLabel(i));
    }
    if (hasFocus()) {
        PanelWidgetKit::paintFocusRing(painter, segmentRect(std::max(0, selected_)), 6, *this);
    }
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    for (int i = 0; i < segmentCount(); ++i) {
        if (segmentRect(i).contains(event->position())) {
            choose(i);
            return;
        }
    }
}

void SegmentedControl::choose(int index) {
    setSelectedSegment(index);
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent changed(this, label(index));
        QAccessible::updateAccessibility(&changed);
    }
    emit segmentChosen(index);
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
    if (segmentCount() == 0 || !isEnabled()) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int current = std::max(0, selected_);
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            if (current > 0) choose(current - 1);
            return;
        case Qt::Key_Right:
        case Qt::Key_Down:
            if (current + 1 < segmentCount()) choose(current + 1);
            return;
        case Qt::Key_Home:
            if (current != 0) choose(0);
            return;
        case Qt::Key_End:
            if (current != segmentCount() - 1) choose(segmentCount() - 1);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            choose(current);
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void SegmentedControl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

}  // namespace kestrane::ui
