#pragma once

#include <functional>

#include <QStringList>
#include <QWidget>

namespace kestrane::ui {

// A pill-shaped switch of two or more segments (provider choice, chart style), drawn in the
// panel's own colours. Exactly one segment is selected once the owner selects one.
class QuotaSegmentedControl : public QWidget {
    Q_OBJECT
  public:
    static constexpr int controlHeight = 28;

    // `action` runs after every click on a segment (not when the owner selects one).
    QuotaSegmentedControl(QStringList labels, int width, std::function<void(int)> action,
                          QWidget* parent = nullptr);

    int segmentCount() const { return static_cast<int>(labels_.size()); }
    int selectedSegment() const { return selected_; }
    void setSelectedSegment(int index);
    // Segment `index` in widget coordinates.
    QRectF segmentRect(int index) const;
    // The label as drawn into its segment, ellipsis included when it does not fit.
    QString displayedLabel(int index) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QFont labelFont(bool selected) const;
    QRectF labelRect(int index) const;

    QStringList labels_;
    std::function<void(int)> action_;
    int selected_ = -1;
};

}  // namespace kestrane::ui
