#include "ui/TrayIconRenderer.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "support/TempDirectory.h"
#include "ui/UiArtifacts.h"

namespace kestrane::ui {
namespace {

using model::ProviderKind;
using Content = TrayIconRenderer::Content;
using testing::columnHasInk;
using testing::saveArtifact;

Content threeEntries() {
    return Content{{{ProviderKind::codex, "37%"},
                    {ProviderKind::cursor, "--"},
                    {ProviderKind::claude, "100%"}}};
}

TEST(TrayIconRendererTest, ImageSizeFollowsTheEntriesAtBothPixelRatios) {
    const struct {
        const char* name;
        Content content;
        qreal ratio;
        QSize pixels;
    } cases[] = {
        {"empty", Content{}, 1, {18, 18}},
        {"empty, ratio 2", Content{}, 2, {36, 36}},
        {"one", Content{{{ProviderKind::kimi, "5%"}}}, 1, {39, 18}},
        {"three", threeEntries(), 1, {117, 18}},
        {"three, ratio 2", threeEntries(), 2, {234, 36}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const QImage image = TrayIconRenderer::make(testCase.content, testCase.ratio);
        EXPECT_EQ(image.size(), testCase.pixels);
        EXPECT_EQ(image.devicePixelRatio(), testCase.ratio);
        EXPECT_EQ(image.deviceIndependentSize(), TrayIconRenderer::size(testCase.content));
    }
    saveArtifact(TrayIconRenderer::make(threeEntries(), 2), "badge-three-x2");
    saveArtifact(TrayIconRenderer::make(Content{}, 2), "badge-empty-x2");
}

TEST(TrayIconRendererTest, ValuesStartTwelvePointsIntoTheirSlotAndMarksSitAtItsLeft) {
    const ProviderArtwork::Set noMarks;
    const QImage textOnly = TrayIconRenderer::make(threeEntries(), 1, noMarks);
    // The third slot starts at 78: nothing before its value at 90, ink right after.
    for (int x = 78; x < 90; ++x) EXPECT_FALSE(columnHasInk(textOnly, x)) << "column " << x;
    EXPECT_TRUE(columnHasInk(textOnly, 90) || columnHasInk(textOnly, 91));
    EXPECT_EQ(TrayIconRenderer::slotLayout(2).textBaseline.x(), 90);
    // Text stays within the 18-point height, above the 3-point bottom margin.
    for (int y = 16; y < 18; ++y) {
        for (int x = 0; x < textOnly.width(); ++x) EXPECT_LT(qAlpha(textOnly.pixel(x, y)), 40);
    }

    const QImage withMarks = TrayIconRenderer::make(threeEntries(), 1);
    EXPECT_EQ(TrayIconRenderer::slotLayout(2).markRect, QRectF(78, 5, 9, 9));
    bool markInk = false;
    for (int x = 78; x < 87; ++x) markInk = markInk || columnHasInk(withMarks, x, 5, 14);
    EXPECT_TRUE(markInk);
    // Nothing else is drawn: the gap between the mark and the value stays clear.
    for (int x = 88; x < 90; ++x) EXPECT_FALSE(columnHasInk(withMarks, x)) << "column " << x;
}

TEST(TrayIconRendererTest, EmptyContentShowsOnlyTheAppMark) {
    const QImage image = TrayIconRenderer::make(Content{}, 1);
    bool inside = false;
    for (int y = 0; y < 18; ++y) {
        for (int x = 0; x < 18; ++x) {
            const bool ink = qAlpha(image.pixel(x, y)) > 40;
            if (ink) {
                EXPECT_TRUE(x >= 4 && x < 14 && y >= 4 && y < 14) << x << "," << y;
            }
            inside = inside || ink;
        }
    }
    EXPECT_TRUE(inside);
}

TEST(TrayIconRendererTest, AccessibilityTextNamesEveryEntry) {
    const struct {
        Content content;
        std::string text;
    } cases[] = {
        {Content{}, "Kestrane: все провайдеры выключены"},
        {Content{{{ProviderKind::codex, "37%"}, {ProviderKind::cursor, "--"}}},
         "Codex 37% осталось, Cursor -- осталось"},
        {Content{{{ProviderKind::claude, "!"}}}, "Claude ! осталось"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.text);
        EXPECT_EQ(testCase.content.accessibilityText(), testCase.text);
    }
}

TEST(TrayIconRendererTest, ContentsDifferingOnlyInOrderAreNotEqual) {
    const Content a{{{ProviderKind::codex, "37%"}, {ProviderKind::cursor, "5%"}}};
    const Content b{{{ProviderKind::cursor, "5%"}, {ProviderKind::codex, "37%"}}};
    EXPECT_NE(a, b);
    EXPECT_EQ(a, (Content{{{ProviderKind::codex, "37%"}, {ProviderKind::cursor, "5%"}}}));
}

TEST(TrayIconRendererTest, MissingArtworkFallsBackToSymbolsAndBrokenArtworkToNothing) {
    const testing::TempDirectory folder;
    const std::string star =
        R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 4 4"><rect width="4" height="4"/></svg>)";
    folder.write("symbols/sparkles.svg", star);
    folder.write("symbols/atom.svg", star);
    // moon.stars is missing: Kimi ends up without an image.
    folder.write("providers/antigravity.svg", "not an svg");
    const QString root = QString::fromStdString(folder.path().string());
    const auto set = ProviderArtwork::load(root + "/providers", root + "/symbols");

    EXPECT_TRUE(set.appIcon);
    EXPECT_FALSE(set.image(ProviderKind::codex));
    EXPECT_FALSE(set.image(ProviderKind::cursor));
    ASSERT_TRUE(set.image(ProviderKind::claude));
    EXPECT_EQ(set.image(ProviderKind::claude)->data(), set.appIcon->data());
    EXPECT_FALSE(set.image(ProviderKind::kimi));
    // A file that exists but does not load gets no symbol either.
    EXPECT_FALSE(set.image(ProviderKind::antigravity));

    // Codex and Cursor slots then show only their text.
    const QImage image = TrayIconRenderer::make(
        Content{{{ProviderKind::codex, "1%"}, {ProviderKind::claude, "2%"}}}, 1, set);
    for (int x = 0; x < 12; ++x) EXPECT_FALSE(columnHasInk(image, x)) << "column " << x;
    EXPECT_TRUE(columnHasInk(image, 40, 5, 14));
}

TEST(TrayIconRendererTest, BuiltInArtworkHasAMarkForEveryProvider) {
    const auto& set = ProviderArtwork::shared();
    EXPECT_TRUE(set.appIcon);
    for (const ProviderKind kind : model::allProviderKinds) {
        EXPECT_TRUE(set.image(kind)) << model::rawValue(kind);
    }
}

TEST(TrayIconRendererTest, TrayIconKeepsMarkAboveAndWholeValueInsideTheSquare) {
    for (const int size : {16, 22, 44}) {
        SCOPED_TRACE(size);
        const QImage icon = TrayIconRenderer::makeTrayIcon({ProviderKind::claude, "100%"}, size);
        ASSERT_EQ(icon.size(), QSize(size, size));
        // The value fills the width up to an empty margin at each side, which keeps it
        // apart from the neighbouring icon's value.
        const int margin = TrayIconRenderer::trayIconMargin(size);
        EXPECT_GE(margin, size < 20 ? 1 : 2);
        for (int x = 0; x < margin; ++x) {
            EXPECT_FALSE(columnHasInk(icon, x)) << "column " << x;
            EXPECT_FALSE(columnHasInk(icon, size - 1 - x)) << "column " << size - 1 - x;
        }
        EXPECT_TRUE(columnHasInk(icon, margin) || columnHasInk(icon, margin + 1));
        EXPECT_TRUE(columnHasInk(icon, size - 1 - margin) || columnHasInk(icon, size - 2 - margin));
        // Upper rows hold the mark.
        bool markInk = false;
        for (int x = 0; x < size; ++x) markInk = markInk || columnHasInk(icon, x, 0, size / 3);
        EXPECT_TRUE(markInk);
    }
    QImage strip(QSize(22 * 4 + 6, 22), QImage::Format_ARGB32_Premultiplied);
    strip.fill(QColor(0xd6, 0xd6, 0xd6));
    QPainter painter(&strip);
    int x = 0;
    for (const auto& entry : threeEntries().entries) {
        painter.drawImage(x, 0, TrayIconRenderer::makeTrayIcon(entry, 22));
        x += 24;
    }
    painter.drawImage(x, 0, TrayIconRenderer::makeAppTrayIcon(22));
    painter.end();
    saveArtifact(strip, "tray-icons-22");
    saveArtifact(TrayIconRenderer::makeTrayIcon({ProviderKind::kimi, "37%"}, 64), "tray-icon-64");
}

// Whatever height the tray has at a scale, one icon is drawn at least that tall and not much
// taller, so the tray shrinks it a little to fill its height and never enlarges a small one.
TEST(TrayIconRendererTest, TrayIconSizesFillTheTrayAtEveryScale) {
    for (const double scale : {1.0, 1.25, 1.5, 2.0}) {
        SCOPED_TRACE(scale);
        const std::vector<int> sizes = TrayIconRenderer::trayIconPixelSizes(scale);
        ASSERT_FALSE(sizes.empty());
        EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
        EXPECT_EQ(std::adjacent_find(sizes.begin(), sizes.end()), sizes.end());
        // The usual request, 22 points, drawn for itself.
        EXPECT_NE(std::find(sizes.begin(), sizes.end(), static_cast<int>(std::lround(22 * scale))),
                  sizes.end());
        for (int tray = static_cast<int>(std::ceil(16 * scale)); tray <= 64 * scale; ++tray) {
            SCOPED_TRACE(tray);
            const auto fitting = std::lower_bound(sizes.begin(), sizes.end(), tray);
            ASSERT_NE(fitting, sizes.end());
            EXPECT_LE(*fitting, tray * 4.0 / 3.0);
        }
    }
    // The case seen: a 46 pixel tray at 1.5 gets an icon of 46 to 61 pixels, not 33.
    const std::vector<int> sizes = TrayIconRenderer::trayIconPixelSizes(1.5);
    const auto fitting = std::lower_bound(sizes.begin(), sizes.end(), 46);
    ASSERT_NE(fitting, sizes.end());
    EXPECT_LE(*fitting, 61);
    // A scale no screen has falls back to 1.
    EXPECT_EQ(TrayIconRenderer::trayIconPixelSizes(0), TrayIconRenderer::trayIconPixelSizes(1));
}

TEST(TrayIconRendererTest, TintingKeepsCoverageAndChangesColour) {
    const QImage image = TrayIconRenderer::make(threeEntries(), 1);
    const QImage white = TrayIconRenderer::tinted(image, Qt::white);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb before = image.pixel(x, y);
            const QRgb after = white.pixel(x, y);
            ASSERT_EQ(qAlpha(before), qAlpha(after));
            if (qAlpha(after) == 255) {
                ASSERT_EQ(qRed(after), 255);
            }
        }
    }
}

}  // namespace
}  // namespace kestrane::ui
