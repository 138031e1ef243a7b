#include "ui/TrayIconRenderer.h"

#include <algorithm>
#include <cmath>

#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>

namespace kestrane::ui::TrayIconRenderer {

namespace {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The system font, semibold. Digits of the fonts we meet on Linux desktops are tabular, so
// values do not jitter as they change.
QFont valueFont(double pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QImage transparentImage(QSize pixels, qreal devicePixelRatio) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

}  // namespace

std::string Content::accessibilityText() const {
    if (entries.empty()) return "Kestrane: все провайдеры выключены";
    std::string text;
    for (const Entry& entry : entries) {
        if (!text.empty()) text += ", ";
        text += std::string(model::rawValue(entry.provider)) + " " + entry.value + " осталось";
    }
    return text;
}

SlotLayout slotLayout(int index) {
    const double x = slotWidth * index;
    // The layout is defined with the origin at the bottom left: the mark sits 4 points above
    // the bottom edge and the text's box starts 3 points above it.
    const QFontMetricsF metrics(valueFont(fontSize, QFont::DemiBold));
    return SlotLayout{QRectF(x, height - 4 - 9, 9, 9),
                      QPointF(x + 12, height - 3 - metrics.descent())};
}

QSizeF size(const Content& content) {
    return {content.entries.empty() ? height : slotWidth * content.entries.size(), height};
}

QImage make(const Content& content, qreal devicePixelRatio, const ProviderArtwork::Set& artwork) {
    const QSizeF points = size(content);
    QImage image =
        transparentImage(QSize(static_cast<int>(std::ceil(points.width() * devicePixelRatio)),
                               static_cast<int>(std::ceil(points.height() * devicePixelRatio))),
                         devicePixelRatio);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    if (content.entries.empty()) {
        if (artwork.appIcon) artwork.appIcon->paint(painter, QRectF(4, height - 4 - 10, 10, 10));
        return image;
    }
    painter.setFont(valueFont(fontSize, QFont::DemiBold));
    painter.setPen(Qt::black);
    for (std::size_t i = 0; i < content.entries.size(); ++i) {
        const Entry& entry = content.entries[i];
        const SlotLayout layout = slotLayout(static_cast<int>(i));
        if (const auto* mark = artwork.image(entry.provider)) mark->paint(painter, layout.markRect);
        // Not clipped: a value wider than its slot runs into the next one.
        painter.drawText(layout.textBaseline, toQString(entry.value));
    }
    return image;
}

std::vector<int> trayIconPixelSizes(qreal scale) {
    // Points: the heights trays use, close enough together that the next size up is never
    // more than a third taller than a height between them.
    static constexpr int heights[] = {16, 20, 22, 24, 28, 32, 36, 40, 48, 56, 64};
    const qreal ratio = scale > 0 && std::isfinite(scale) ? std::clamp(scale, 1.0, 4.0) : 1.0;
    std::vector<int> sizes;
    for (const int points : heights) {
        const int pixels = static_cast<int>(std::lround(points * ratio));
        if (sizes.empty() || sizes.back() != pixels) sizes.push_back(pixels);
    }
    return sizes;
}

int trayIconMargin(int pixelSize) {
    return std::max(1, static_cast<int>(std::lround(pixelSize / 11.0)));
}

QImage makeTrayIcon(const Entry& entry, int pixelSize, const ProviderArtwork::Set& artwork) {
    const double side = pixelSize;
    QImage image = transparentImage(QSize(pixelSize, pixelSize), 1);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    // The value gets the lower half and must stay readable at 22 pixels, so its digits are as
    // tall as fits; the percent sign is smaller, since the digits are what is read. Columns at
    // both sides stay empty, so the values of neighbouring icons never touch
    // ("58% 88%", not "58%88%"); a value too wide is squeezed horizontally, not shrunk.
    const double margin = trayIconMargin(pixelSize);
    const double room = side - 2 * margin;
    QString digits = toQString(entry.value);
    QString suffix;
    if (digits.size() > 1 && digits.endsWith(QLatin1Char('%'))) {
        digits.chop(1);
        suffix = QStringLiteral("%");
    }
    const QFont font = valueFont(side * 0.5, QFont::Bold);
    const QFont suffixFont = valueFont(side * 0.5 * 0.62, QFont::Bold);
    const QFontMetricsF metrics(font);
    const double digitsWidth = metrics.horizontalAdvance(digits);
    const double suffixWidth = QFontMetricsF(suffixFont).horizontalAdvance(suffix);
    const double textWidth = digitsWidth + suffixWidth;
    const double markSide = std::max(1.0, side - metrics.capHeight() - side * 0.16);
    if (const auto* mark = artwork.image(entry.provider)) {
        mark->paint(painter, QRectF((side - markSide) / 2, 0, markSide, markSide));
    }
    const double scale = textWidth > room ? room / textWidth : 1.0;
    painter.save();
    painter.translate(margin + (room - textWidth * scale) / 2, side - 0.5);
    painter.scale(scale, 1);
    painter.setPen(Qt::black);
    painter.setFont(font);
    painter.drawText(QPointF(0, 0), digits);
    painter.setFont(suffixFont);
    painter.drawText(QPointF(digitsWidth, 0), suffix);
    painter.restore();
    return image;
}

QImage makeAppTrayIcon(int pixelSize, const ProviderArtwork::Set& artwork) {
    QImage image = transparentImage(QSize(pixelSize, pixelSize), 1);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const double inset = pixelSize * 0.1;
    if (artwork.appIcon) {
        artwork.appIcon->paint(painter,
                               QRectF(inset, inset, pixelSize - 2 * inset, pixelSize - 2 * inset));
    }
    return image;
}

QImage tinted(const QImage& templateImage, const QColor& color) {
    QImage image = templateImage.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(0, 0), image.deviceIndependentSize()), color);
    return image;
}

}  // namespace kestrane::ui::TrayIconRenderer
