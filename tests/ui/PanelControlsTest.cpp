#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "ui/ProviderSwitch.h"
#include "ui/UsageBarView.h"
#include "ui/WindowButton.h"

namespace kestrane::ui {
namespace {

TEST(UsageBarViewTest, FillsWholeSegmentsThenAPartOfTheNext) {
    UsageBarView bar(37.5);
    bar.setFixedSize(408, 10);
    for (int i = 0; i < 18; ++i) EXPECT_DOUBLE_EQ(bar.filledFraction(i), 1.0) << i;
    EXPECT_DOUBLE_EQ(bar.filledFraction(18), 0.75);
    EXPECT_DOUBLE_EQ(bar.filledFraction(19), 0.0);
    EXPECT_EQ(bar.accessibleName(), "Осталось 38% лимита");
    // (408 - 49 gaps of 2.5) / 50 = 5.71 per segment; the last one ends at the right edge.
    EXPECT_DOUBLE_EQ(bar.segmentRect(0).width(), 5.71);
    EXPECT_DOUBLE_EQ(bar.segmentRect(1).left(), 8.21);
    EXPECT_NEAR(bar.segmentRect(49).right(), 408, 1e-9);
    EXPECT_DOUBLE_EQ(bar.segmentRect(0).top(), 0.5);
    EXPECT_DOUBLE_EQ(bar.segmentRect(0).height(), 9);

    EXPECT_DOUBLE_EQ(UsageBarView(140).remainingPercent(), 100);
    EXPECT_DOUBLE_EQ(UsageBarView(-2).remainingPercent(), 0);
    EXPECT_EQ(UsageBarView(-2).accessibleName(), "Осталось 0% лимита");
}

TEST(UsageBarViewTest, DrawsNothingWhenTooSmall) {
    UsageBarView bar(50);
    bar.setFixedSize(100, 1);  // segments would have negative width, and the height is 1
    QImage image(bar.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    bar.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    for (int x = 0; x < image.width(); ++x) EXPECT_EQ(qAlpha(image.pixel(x, 0)), 0);
}

TEST(ProviderSwitchTest, OpacityFollowsState) {
    ProviderSwitch toggle(model::ProviderKind::kimi);
    EXPECT_EQ(toggle.size(), QSize(44, 32));
    EXPECT_EQ(toggle.trackRect(), QRectF(4, 6, 36, 20));
    EXPECT_DOUBLE_EQ(toggle.drawingOpacity(), 1.0);
    toggle.setDown(true);
    EXPECT_DOUBLE_EQ(toggle.drawingOpacity(), 0.75);
    toggle.setDown(false);
    toggle.setEnabled(false);
    EXPECT_DOUBLE_EQ(toggle.drawingOpacity(), 0.4);
    EXPECT_EQ(toggle.knobRect(), QRectF(7, 9, 14, 14));
    toggle.setChecked(true);
    EXPECT_EQ(toggle.knobRect(), QRectF(23, 9, 14, 14));
}

}  // namespace
}  // namespace kestrane::ui
