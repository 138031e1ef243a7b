#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "ui/PanelWidgetKit.h"
#include "ui/ProviderSwitch.h"
#include "ui/UsageBarView.h"
#include "ui/WindowButton.h"
#include "ui/WindowChooser.h"

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

namespace kestrane::ui {
namespace {

// The chooser sizes itself to its title and draws it whole, whatever the font's metrics (with
// and without hinting the title's width is fractional); its list is as wide as its longest row.
// The sizes are about the panel's 11 pixels, where every title fits the chooser's 180.
TEST(WindowChooserTest, TitlesAreWholeAtTheWidthTheyAsked) {
    const QStringList titles = {QStringLiteral("Сессия"), QStringLiteral("Все модели - Недельный"),
                                QStringLiteral("Kimi - Недельный")};
    for (const auto hinting : {QFont::PreferNoHinting, QFont::PreferDefaultHinting}) {
        for (const qreal pointSize : {7.75, 8.0, 8.25, 8.4, 8.5, 8.75}) {
            SCOPED_TRACE(pointSize);
            SCOPED_TRACE(static_cast<int>(hinting));
            QWidget window;
            window.resize(448, 400);
            auto* chooser = new WindowChooser(&window);
            QFont font = chooser->font();
            font.setPointSizeF(pointSize);
            font.setHintingPreference(hinting);
            chooser->setFont(font);
            chooser->setMaximumWidth(180);
            chooser->addItems(titles);
            for (int index = 0; index < titles.size(); ++index) {
                chooser->setCurrentIndex(index);
                chooser->resize(chooser->sizeHint());
                EXPECT_EQ(chooser->shownTitle(), titles[index]);
            }
            chooser->move(448 - 16 - chooser->width(), 20);
            chooser->showPopup();
            EXPECT_EQ(chooser->shownPopupTitles(), titles);
            chooser->hidePopup();
        }
    }
}

}  // namespace
}  // namespace kestrane::ui

namespace kestrane::ui {
namespace {

// A number keeps the word after it on its line; nothing else in the text changes.
TEST(PanelWidgetKitTest, NumbersKeepTheirUnits) {
    const QString nbsp(QChar(0x00A0));
    const struct {
        const char* text;
        QString expected;
    } cases[] = {
        {"12 п.п. в час", "12" + nbsp + "п.п. в час"},
        {"через 2 ч. 5 мин.", "через 2" + nbsp + "ч. 5" + nbsp + "мин."},
        {"3 дня истории", "3" + nbsp + "дня истории"},
        {"RAM 1,2 ГБ", "RAM 1,2" + nbsp + "ГБ"},
        {"Сессия - 5 часов", "Сессия - 5" + nbsp + "часов"},
        // A number before a sign, a number after a word, a percent: as they were.
        {"Найдено: 3 • 10:25", "Найдено: 3 • 10:25"},
        {"Без TCP-порта • PID 4100", "Без TCP-порта • PID 4100"},
        {"70% осталось", "70% осталось"},
        {"", ""},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.text);
        EXPECT_EQ(PanelWidgetKit::keepUnitsWithNumbers(QString::fromUtf8(testCase.text)),
                  testCase.expected);
    }
}

}  // namespace
}  // namespace kestrane::ui
