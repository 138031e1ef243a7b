#include "ui/QuotaPopoverViewController.h"

#include <QPainter>

#include <gtest/gtest.h>

#include "ui/QuotaPanel.h"
#include "ui/UiArtifacts.h"

namespace kestrane::ui {
namespace {

using model::ProviderKind;

std::vector<ProviderViewState> sampleStates() {
    model::ProviderUsage codex;
    codex.provider = ProviderKind::codex;
    codex.windows = {{.id = "codex-primary", .usedPercent = 63, .durationMinutes = 300}};
    return {
        {ProviderKind::codex, true, codex, std::nullopt},
        {ProviderKind::cursor, true, std::nullopt, "Превышен лимит времени на запрос."},
        {ProviderKind::claude, true, std::nullopt, std::nullopt},
        {ProviderKind::kimi, false, std::nullopt, std::nullopt},
        {ProviderKind::antigravity, false, std::nullopt, std::nullopt},
    };
}

TEST(QuotaPopoverViewControllerTest, SummariesSayWhatEachProviderIsDoing) {
    const auto states = sampleStates();
    EXPECT_EQ(QuotaPopoverViewController::summary(states[0]),
              QStringLiteral("37% осталось · 5 часов"));
    EXPECT_EQ(QuotaPopoverViewController::summary(states[1]),
              QStringLiteral("Превышен лимит времени на запрос."));
    EXPECT_EQ(QuotaPopoverViewController::summary(states[2]), QStringLiteral("Нет данных"));
    EXPECT_EQ(QuotaPopoverViewController::summary(states[3]), QStringLiteral("Выключен"));
}

TEST(QuotaPopoverViewControllerTest, PanelRendersInLightAndDarkPalettes) {
    platform::MemoryPreferencesStore defaults;
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        QuotaPanel panel;
        QPalette palette;
        palette.setColor(QPalette::Window,
                         dark ? QColor(0x20, 0x20, 0x20) : QColor(0xF0, 0xF0, 0xF0));
        palette.setColor(QPalette::WindowText, dark ? QColor(0xEE, 0xEE, 0xEE) : Qt::black);
        panel.setPalette(palette);
        auto* controller = new QuotaPopoverViewController(defaults);
        panel.setContentView(controller);
        controller->setStates(sampleStates());
        controller->setIsRefreshing(true);
        controller->render();
        panel.resize(448, 600);
        QImage image(panel.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(dark ? QColor(0x40, 0x50, 0x60) : QColor(0x90, 0xA0, 0xB0));
        panel.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        testing::saveArtifact(image,
                              dark ? QStringLiteral("panel-dark") : QStringLiteral("panel-light"));
        // The backdrop takes the named background colour of the palette in effect.
        const QColor backdrop = image.pixelColor(40, 560);
        EXPECT_EQ(dark, backdrop.lightness() < 128);
    }
}

}  // namespace
}  // namespace kestrane::ui
