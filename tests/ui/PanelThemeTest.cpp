#include "ui/PanelTheme.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPalette>

#include <gtest/gtest.h>

#include "ui/PanelBackdrop.h"
#include "ui/PanelSurface.h"
#include "ui/SegmentedControl.h"
#include "ui/UiArtifacts.h"

namespace kestrane::ui {
namespace {

using testing::saveArtifact;

using testing::darkPalette;
using testing::lightPalette;

TEST(PanelThemeTest, NamedColoursResolveToTheirLightAndDarkValues) {
    const struct {
        const NamedColor& color;
        const char* name;
        QRgb light;
        QRgb dark;
    } cases[] = {
        {PanelTheme::background(), "Kestrane.background", 0xF4F3EE, 0x222322},
        {PanelTheme::card(), "Kestrane.card", 0xFFFFFF, 0x414340},
        {PanelTheme::panel(), "Kestrane.panel", 0xE4E5DF, 0x30332F},
        {PanelTheme::information(), "Kestrane.information", 0x376E67, 0x96C6BC},
        {PanelTheme::separator(), "Kestrane.separator", 0xDADCD5, 0x454842},
        {PanelTheme::text(), "Kestrane.text", 0x19191B, 0xF6F5F3},
        {PanelTheme::muted(), "Kestrane.muted", 0x62665F, 0xADB3AA},
        {PanelTheme::track(), "Kestrane.track", 0xDDE0D7, 0x454A42},
        {PanelTheme::warning(), "Kestrane.warning", 0xA23B19, 0xF5A078},
        {PanelTheme::running(), "Kestrane.running", 0x37715A, 0x87C6A6},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(testCase.color.name(), testCase.name);
        EXPECT_EQ(testCase.color.resolve(lightPalette()), QColor::fromRgb(testCase.light));
        EXPECT_EQ(testCase.color.resolve(darkPalette()), QColor::fromRgb(testCase.dark));
        EXPECT_EQ(testCase.color.resolve(darkPalette()).alpha(), 255);
    }
    EXPECT_EQ(&PanelTheme::lightText(), &PanelTheme::text());
    EXPECT_EQ(&PanelTheme::darkText(), &PanelTheme::text());
    EXPECT_EQ(&PanelTheme::darkMuted(), &PanelTheme::muted());
}

TEST(PanelThemeTest, PanelIsDarkByTheUsersChoiceThenTheDesktopThenThePalette) {
    using app::PanelAppearance;
    const struct {
        const char* name;
        PanelAppearance choice;
        std::optional<bool> desktopPrefersDark;
        QPalette palette;
        bool dark;
    } cases[] = {
        {"user light over a dark desktop", PanelAppearance::light, true, darkPalette(), false},
        {"user dark over a light desktop", PanelAppearance::dark, false, lightPalette(), true},
        // The palette of most desktops stays light however dark the portal says they are.
        {"portal dark, light palette", PanelAppearance::system, true, lightPalette(), true},
        {"portal light, dark palette", PanelAppearance::system, false, darkPalette(), false},
        {"no preference, dark palette", PanelAppearance::system, std::nullopt, darkPalette(), true},
        {"no preference, light palette", PanelAppearance::system, std::nullopt, lightPalette(),
         false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(
            PanelTheme::isDark(testCase.choice, testCase.desktopPrefersDark, testCase.palette),
            testCase.dark);
    }
}

TEST(PanelThemeTest, ThePanelsOwnPaletteResolvesEveryColourForItsAppearance) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        // Over a base of the other appearance: the panel's palette wins.
        const QPalette palette = PanelTheme::palette(dark, dark ? lightPalette() : darkPalette());
        EXPECT_EQ(PanelTheme::isDark(palette), dark);
        EXPECT_EQ(palette.color(QPalette::Window), PanelTheme::background().resolve(dark));
        EXPECT_EQ(palette.color(QPalette::WindowText), PanelTheme::text().resolve(dark));
        EXPECT_EQ(palette.color(QPalette::Disabled, QPalette::WindowText),
                  PanelTheme::muted().resolve(dark));
        EXPECT_EQ(PanelTheme::card().resolve(palette), PanelTheme::card().resolve(dark));
    }
}

TEST(PanelThemeTest, SurfaceRecoloursWhenThePaletteChanges) {
    PanelSurface surface(PanelTheme::card(), std::nullopt, 8);
    surface.resize(60, 40);
    surface.setPalette(lightPalette());
    EXPECT_EQ(surface.grab().toImage().pixelColor(30, 20), QColor(0xFF, 0xFF, 0xFF));
    surface.setPalette(darkPalette());
    EXPECT_EQ(surface.grab().toImage().pixelColor(30, 20), QColor(0x41, 0x43, 0x40));
}

TEST(PanelThemeTest, SurfaceFillsEdgeToEdgeWithoutBorderAndStrokesInsideWithOne) {
    PanelSurface plain(PanelTheme::card(), std::nullopt, 8);
    plain.resize(60, 40);
    EXPECT_EQ(plain.surfaceRect(), QRectF(0, 0, 60, 40));
    PanelSurface bordered(PanelTheme::card(), PanelTheme::separator(), 8);
    bordered.resize(60, 40);
    EXPECT_EQ(bordered.surfaceRect(), QRectF(0.5, 0.5, 59, 39));
    bordered.setPalette(lightPalette());
    const QImage image = bordered.grab().toImage();
    // The stroke is fully inside: the edge pixel in the middle of a side is the border.
    EXPECT_EQ(image.pixelColor(30, 0), QColor(0xDA, 0xDC, 0xD5));
    EXPECT_EQ(image.pixelColor(30, 39), QColor(0xDA, 0xDC, 0xD5));
    EXPECT_EQ(image.pixelColor(30, 20), QColor(0xFF, 0xFF, 0xFF));
}

TEST(PanelThemeTest, SegmentedControlDividesItsWidthAndElidesLongLabels) {
    SegmentedControl two({QStringLiteral("Остаток"), QStringLiteral("Расход")}, 144, nullptr);
    EXPECT_EQ(two.size(), QSize(144, 28));
    EXPECT_EQ(two.segmentRect(0), QRectF(2, 2, 70, 24));
    EXPECT_EQ(two.segmentRect(1), QRectF(72, 2, 70, 24));

    SegmentedControl narrow(
        {QStringLiteral("Очень длинное название провайдера"), QStringLiteral("Kimi")}, 120,
        nullptr);
    EXPECT_TRUE(narrow.displayedLabel(0).endsWith(QChar(0x2026)));
    EXPECT_EQ(narrow.displayedLabel(1), QStringLiteral("Kimi"));
}

TEST(PanelThemeTest, SegmentedControlDrawsTheSelectionAndReportsClicks) {
    int clicked = -1;
    SegmentedControl control(
        {QStringLiteral("Codex"), QStringLiteral("Cursor"), QStringLiteral("Claude")}, 240);
    QObject::connect(&control, &SegmentedControl::segmentChosen,
                     [&](int index) { clicked = index; });
    control.setSelectedSegment(1);
    for (const auto& [palette, name] :
         {std::pair{lightPalette(), "light"}, std::pair{darkPalette(), "dark"}}) {
        SCOPED_TRACE(name);
        control.setPalette(palette);
        const QImage image = control.grab().toImage();
        // Inside the selected segment, away from the label: the card colour at 95 %.
        const QColor card = PanelTheme::card().resolve(palette);
        const QColor selected =
            image.pixelColor(static_cast<int>(control.segmentRect(1).x() + 4), 14);
        EXPECT_NEAR(selected.red(), card.red(), 12);
        EXPECT_NE(image.pixelColor(static_cast<int>(control.segmentRect(0).x() + 4), 14), selected);
        saveArtifact(image, QStringLiteral("segmented-%1").arg(QString::fromLatin1(name)));
    }

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(200, 14), QPointF(200, 14), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&control, &press);
    EXPECT_EQ(clicked, 2);
    EXPECT_EQ(control.selectedSegment(), 2);
}

TEST(PanelThemeTest, BackdropIsTranslucentWithRoundedCorners) {
    PanelBackdrop backdrop;
    backdrop.resize(100, 80);
    backdrop.setPalette(darkPalette());
    QImage image(backdrop.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    backdrop.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(99, 79)), 0);
    const QColor middle = image.pixelColor(50, 40);
    EXPECT_GT(middle.alpha(), 200);
    EXPECT_LT(middle.alpha(), 255);
}

}  // namespace
}  // namespace kestrane::ui
