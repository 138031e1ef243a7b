#include "ui/PanelWindow.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>

#include <gtest/gtest.h>

namespace kestrane::ui {
namespace {

TEST(PanelWindowTest, OriginCentresOnTheAnchorWithinTheMargins) {
    const QRectF screen(0, 0, 1920, 1080);
    const QSizeF size(448, 600);
    const struct {
        const char* name;
        QRectF anchor;
        QRectF visible;
        QPoint origin;
    } cases[] = {
        {"centred", QRectF(900, 0, 60, 22), screen, {706, 28}},
        {"near the right edge", QRectF(1880, 0, 40, 22), screen, {1920 - 8 - 448, 28}},
        {"near the left edge", QRectF(0, 0, 40, 22), screen, {8, 28}},
        {"anchor above the visible area",
         QRectF(900, 0, 60, 22),
         QRectF(0, 30, 1920, 1050),
         {706, 36}},
        // A bottom tray: the panel opens above the icons, 6 above them or above the bottom
        // of the visible area, whichever is higher.
        {"bottom tray that reserves its space",
         QRectF(900, 1058, 60, 22),
         QRectF(0, 0, 1920, 1050),
         {706, 1050 - 6 - 600}},
        {"bottom tray that reserves nothing",
         QRectF(900, 1058, 60, 22),
         screen,
         {706, 1058 - 6 - 600}},
        {"icon in the lower half", QRectF(900, 700, 60, 22), screen, {706, 700 - 6 - 600}},
        {"bottom tray on a screen too short for the panel",
         QRectF(900, 458, 60, 22),
         QRectF(0, 0, 1920, 480),
         {706, 8}},
        {"top tray on a screen too short for the panel",
         QRectF(900, 0, 60, 22),
         QRectF(0, 0, 1920, 480),
         {706, 480 - 8 - 600}},
        {"screen narrower than the panel",
         QRectF(100, 0, 20, 22),
         QRectF(0, 0, 300, 1080),
         {8, 28}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(PanelWindow::origin(testCase.anchor, size, testCase.visible), testCase.origin);
    }
}

TEST(PanelWindowTest, ContentSizeChangeKeepsThePanelCentredUnderTheAnchor) {
    PanelWindow panel;
    panel.show([] { return std::optional<QRect>(QRect(500, 0, 40, 20)); });
    EXPECT_EQ(panel.size(), QSize(448, 600));
    EXPECT_NEAR(panel.geometry().center().x(), 520, 1);
    panel.setContentSize(QSize(300, 400));
    EXPECT_EQ(panel.size(), QSize(300, 400));
    EXPECT_NEAR(panel.geometry().center().x(), 520, 1);
    EXPECT_EQ(panel.geometry().top(), 26);
    panel.close();
}

TEST(PanelWindowTest, EscapeClosesAndEveryCloseReports) {
    PanelWindow panel;
    int closes = 0;
    QObject::connect(&panel, &PanelWindow::closed, [&] { ++closes; });
    panel.show([] { return std::optional<QRect>(QRect(10, 0, 20, 20)); });
    ASSERT_TRUE(panel.isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&panel, &escape);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(closes, 1);
    panel.close();
    EXPECT_EQ(closes, 2);
}

// The ordinary window (no tray) has a frame and no see-through corners, whatever the window
// system can do: its backdrop fills it edge to edge.
TEST(PanelWindowTest, TheOrdinaryWindowIsSquareAndOpaque) {
    PanelWindow window(PanelWindow::Presentation::window);
    EXPECT_FALSE(window.hasRoundedCorners());
    window.resize(448, 300);
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    window.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    const QColor inside = image.pixelColor(10, 150);
    for (const QPoint corner : {QPoint(0, 0), QPoint(447, 0), QPoint(0, 299), QPoint(447, 299)}) {
        EXPECT_EQ(image.pixelColor(corner), inside);
    }
    EXPECT_EQ(inside.alpha(), 255);
}

// The ordinary window keeps the panel's fixed size, offers no maximising, and shows its notice
// as one line above the content; the floating panel shows none.
TEST(PanelWindowTest, TheOrdinaryWindowIsFixedWithoutMaximiseAndShowsItsNoticeInOneLine) {
    PanelWindow window(PanelWindow::Presentation::window);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
    window.setContentSize(QSize(448, 300));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.notice(), QString());
    const QString text = QStringLiteral("Трей не найден: закрытие окна завершит Kestrane.");
    window.setNotice(text);
    EXPECT_EQ(window.notice(), text);
    EXPECT_EQ(window.size(), QSize(448, 300 + PanelWindow::noticeHeight));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    window.show([] { return std::nullopt; });
    const auto* label = window.findChild<QLabel*>(QStringLiteral("windowNotice"));
    ASSERT_TRUE(label);
    EXPECT_TRUE(label->isVisible());
    // One line: the whole text fits the width inside the margins.
    EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->contentsRect().width());
    EXPECT_GE(label->contentsRect().height(), label->fontMetrics().height());
    window.setNotice(QString());
    EXPECT_EQ(window.size(), QSize(448, 300));

    PanelWindow floating(PanelWindow::Presentation::floating);
    floating.setNotice(text);
    EXPECT_EQ(floating.notice(), QString());
}

TEST(PanelWindowTest, WithoutAnAnchorThePanelStaysWhereItIs) {
    PanelWindow panel;
    panel.move(40, 50);
    panel.show([] { return std::optional<QRect>(); });
    EXPECT_EQ(panel.pos(), QPoint(40, 50));
    panel.close();
}

}  // namespace
}  // namespace kestrane::ui
