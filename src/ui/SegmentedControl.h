#pragma once

#include <vector>

#include <QStringList>
#include <QWidget>

namespace kestrane::ui {

// A pill-shaped switch of two or more segments (provider choice, chart style), drawn in the
// panel's own colours. Exactly one segment is selected once the owner selects one. It takes the
// focus by Tab and a click; the arrow keys (and Home, End) choose the neighbouring segment,
// Enter and Space choose the selected one again. Assistive tools see a list of tabs.
class SegmentedControl : public QWidget {
    Q_OBJECT
  public:
    static constexpr int controlHeight = 28;

    SegmentedControl(QStringList labels, int width, QWidget* parent = nullptr);

    int segmentCount() const { return static_cast<int>(labels_.size()); }
    int selectedSegment() const { return selected_; }
    QString label(int index) const { return labels_.value(index); }
    void setSelectedSegment(int index);
    // Segment `index` in widget coordinates.
    QRectF segmentRect(int index) const;
    // The label as drawn into its segment, ellipsis included when it does not fit.
    QString displayedLabel(int index) const;

    // Assistive tools' view of the control; installed once, by the first control made.
    static void installAccessibility();

  signals:
    // After every click on a segment and every choice by key (not when the owner selects one).
    // A receiver may rebuild the screen: the control is then deleted later, never at once.
    void segmentChosen(int index);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    static constexpr int labelInset = 5;

    QFont labelFont(bool selected) const;
    std::vector<qreal> segmentWidths() const;
    QRectF labelRect(int index) const;
    void choose(int index);

    QStringList labels_;
    int selected_ = -1;
};

}  // namespace kestrane::ui
