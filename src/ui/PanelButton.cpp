#include "ui/PanelButton.h"

#include <map>
#include <optional>

#include <QFile>
#include <QPainter>
#include <QPainterPath>

#include "ui/PanelWidgetKit.h"
#include "ui/ProviderArtwork.h"
#include "ui/TrayIconRenderer.h"

namespace kestrane::ui {

namespace {

constexpr qreal horizontalPadding = 8;
constexpr qreal symbolGap = 4;

}  // namespace

PanelButton::PanelButton(const QString& title, const QString& symbol, NamedColor tint,
                         QWidget* parent)
    : HoverButton(parent), symbol_(symbol), tint_(std::move(tint)) {
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    if (!title.isEmpty()) setAccessibleName(title);
}

void PanelButton::setSymbol(const QString& symbol) {
    symbol_ = symbol;
    updateGeometry();
    update();
}

void PanelButton::setTint(NamedColor tint) {
    tint_ = std::move(tint);
    update();
}

void PanelButton::setBezel(Bezel bezel) {
    bezel_ = bezel;
    updateGeometry();
    update();
}

void PanelButton::setFontPixelSize(int pixelSize) {
    fontPixelSize_ = pixelSize;
    updateGeometry();
    update();
}

void PanelButton::setSymbolSize(qreal side) {
    symbolSide_ = side;
    updateGeometry();
    update();
}

QFont PanelButton::titleFont() const {
    QFont font = this->font();
    font.setPixelSize(fontPixelSize_);
    font.setWeight(bezel_ == Bezel::rounded ? QFont::Medium : QFont::Normal);
    return font;
}

QSize PanelButton::sizeHint() const {
    if (text().isEmpty()) return {24, 24};
    const QFontMetricsF metrics(titleFont());
    qreal width = metrics.horizontalAdvance(text());
    if (!symbol_.isEmpty()) width += symbolGap + symbolSide_;
    qreal height = std::max<qreal>(metrics.height(), symbolSide_);
    if (bezel_ == Bezel::rounded) {
        width += 2 * horizontalPadding;
        height = std::max<qreal>(height + 8, 24);
    }
    return {static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height))};
}

qreal PanelButton::drawingOpacity() const {
    if (!isEnabled()) return 0.4;
    if (isDown()) return 0.75;
    return 1.0;
}

QImage PanelButton::symbolImage(const QString& name, const QColor& color, qreal side,
                                qreal devicePixelRatio) {
    // The symbols live next to the provider marks; asking for the marks loads the resources.
    ProviderArtwork::shared();
    // Loaded once per name (main thread only, like every widget).
    static std::map<QString, std::optional<ProviderArtwork::Image>> cache;
    auto found = cache.find(name);
    if (found == cache.end()) {
        QFile file(ProviderArtwork::builtInSymbolDirectory() + QLatin1Char('/') + name +
                   QStringLiteral(".svg"));
        std::optional<ProviderArtwork::Image> loaded;
        if (file.open(QIODevice::ReadOnly)) {
            loaded = ProviderArtwork::Image::fromSvg(file.read(64 * 1024));
        }
        found = cache.emplace(name, std::move(loaded)).first;
    }
    const auto& image = found->second;
    if (!image) return {};
    const int pixels = std::max(1, static_cast<int>(std::ceil(side * devicePixelRatio)));
    QImage canvas(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        image->paint(painter, QRectF(0, 0, pixels, pixels));
    }
    QImage result = TrayIconRenderer::tinted(canvas, color);
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

void PanelButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    painter.setOpacity(drawingOpacity());
    const QColor color = tint_.resolve(*this);
    const QRectF bounds = QRectF(rect());

    if (bezel_ == Bezel::rounded) {
        QPainterPath path;
        path.addRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        QColor fill = color;
        fill.setAlphaF(isHovered() && isEnabled() ? 0.16 : 0.10);
        painter.fillPath(path, fill);
        QColor outline = color;
        outline.setAlphaF(0.35);
        painter.strokePath(path, QPen(outline, 1));
    } else if (isHovered() && isEnabled() && text().isEmpty()) {
        QPainterPath path;
        path.addRoundedRect(bounds, 6, 6);
        QColor fill = color;
        fill.setAlphaF(0.12);
        painter.fillPath(path, fill);
    }

    if (hasFocus()) PanelWidgetKit::paintFocusRing(painter, bounds, 6, *this);

    const qreal ratio = devicePixelRatioF();
    if (text().isEmpty()) {
        const QImage image = symbolImage(symbol_, color, symbolSide_, ratio);
        const QRectF target((width() - symbolSide_) / 2, (height() - symbolSide_) / 2, symbolSide_,
                            symbolSide_);
        painter.drawImage(target, image);
        return;
    }

    const QFont font = titleFont();
    const QFontMetricsF metrics(font);
    const qreal symbolWidth = symbol_.isEmpty() ? 0 : symbolGap + symbolSide_;
    const qreal padding = bezel_ == Bezel::rounded ? horizontalPadding : 0;
    const qreal available = std::max<qreal>(0, width() - 2 * padding - symbolWidth);
    const QString title = metrics.elidedText(text(), Qt::ElideRight, available);
    const qreal titleWidth = metrics.horizontalAdvance(title);
    // Centred as a group inside a bezel; from the left edge otherwise.
    qreal x = bezel_ == Bezel::rounded ? (width() - titleWidth - symbolWidth) / 2 : 0;
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(x, 0, titleWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     title);
    if (!symbol_.isEmpty()) {
        x += titleWidth + symbolGap;
        const QImage image = symbolImage(symbol_, color, symbolSide_, ratio);
        painter.drawImage(QRectF(x, (height() - symbolSide_) / 2, symbolSide_, symbolSide_), image);
    }
}

}  // namespace kestrane::ui
