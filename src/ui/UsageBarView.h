#pragma once

#include <QWidget>

namespace kestrane::ui {

// The bar under the big figure: 50 rounded segments, filled from the left with the remaining
// share of the quota (the last filled segment in part).
class UsageBarView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int segmentCount = 50;
    static constexpr qreal gap = 2.5;

    // `remainingPercent` is clamped to 0...100.
    explicit UsageBarView(double remainingPercent, QWidget* parent = nullptr);

    double remainingPercent() const { return remainingPercent_; }
    // How much of segment `index` is filled, 0...1.
    double filledFraction(int index) const;
    // Segment `index` in widget coordinates.
    QRectF segmentRect(int index) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    double remainingPercent_;
};

}  // namespace kestrane::ui
