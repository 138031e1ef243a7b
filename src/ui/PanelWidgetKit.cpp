#include "ui/PanelWidgetKit.h"

#include <algorithm>
#include <cstdio>

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QTextDocument>
#include <QVBoxLayout>

#include "ui/PanelSurface.h"

namespace kestrane::ui {

namespace {

// Word wrapping breaks only between words; long paths and commands get invisible break
// opportunities so they wrap inside the column instead of running past it.
QString breakable(const QString& text) {
    QString result;
    result.reserve(text.size() + text.size() / 8);
    int run = 0;
    for (const QChar character : text) {
        result += character;
        run = character.isSpace() ? 0 : run + 1;
        if (run >= 24 &&
            (character == QLatin1Char('/') || character == QLatin1Char('-') ||
             character == QLatin1Char('=') || character == QLatin1Char(',') || run >= 40)) {
            result += QChar(0x200B);
            run = 0;
        }
    }
    return result;
}

// A label that wraps within its own width. A layout asks an item's height for the layout's
// width, not for the narrower width the label is fixed to, so a text a little wider than the
// label would get one line's height and lose its end.
class WrappingLabel final : public QLabel {
  public:
    using QLabel::QLabel;

    int heightForWidth(int width) const override {
        return QLabel::heightForWidth(std::min(width, maximumWidth()));
    }
};

// Font and colour of a panel label; plain text only.
QLabel* styled(QLabel* label, int pixelSize, QFont::Weight weight, const NamedColor& color) {
    const QWidget& reference = *label->parentWidget();
    label->setFont(PanelWidgetKit::panelFont(reference, pixelSize, weight));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color.resolve(reference));
    palette.setColor(QPalette::Text, color.resolve(reference));
    label->setPalette(palette);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

QString PanelWidgetKit::toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString PanelWidgetKit::displayName(model::ProviderKind kind) {
    return toQString(model::rawValue(kind));
}

QString PanelWidgetKit::switchLabel(model::ProviderKind kind) {
    switch (kind) {
        case model::ProviderKind::copilot:
            return QStringLiteral("Copilot");
        case model::ProviderKind::gemini:
            return QStringLiteral("Gemini");
        default:
            return displayName(kind);
    }
}

QString PanelWidgetKit::formatted(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return QString::fromLatin1(buffer);
}

QString PanelWidgetKit::plainToolTip(const QString& text) {
    // Tool tips guess the format from the text; one that looks like markup is escaped so it
    // shows as written.
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text) : text;
}

QFont PanelWidgetKit::panelFont(const QWidget& reference, int pixelSize, QFont::Weight weight) {
    QFont font = reference.font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QString PanelWidgetKit::keepUnitsWithNumbers(QString text) {
    // A digit, one ordinary space, a letter of any script.
    static const QRegularExpression space(QStringLiteral("(?<=\\d) (?=\\p{L})"));
    return text.replace(space, QString(QChar(0x00A0)));
}

QLabel* PanelWidgetKit::makeLabel(const QString& text, int pixelSize, QFont::Weight weight,
                                  const NamedColor& color, QWidget* parent) {
    return styled(new QLabel(text, parent), pixelSize, weight, color);
}

QLabel* PanelWidgetKit::makeWrappingLabel(const QString& text, int pixelSize, QFont::Weight weight,
                                          const NamedColor& color, int width, QWidget* parent) {
    QLabel* label = styled(new WrappingLabel(breakable(text), parent), pixelSize, weight, color);
    label->setWordWrap(true);
    label->setFixedWidth(width);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAccessibleName(text);
    return label;
}

QLabel* PanelWidgetKit::makeElidedLabel(const QString& text, int pixelSize, QFont::Weight weight,
                                        const NamedColor& color, int width, Qt::TextElideMode mode,
                                        QWidget* parent) {
    QLabel* label = makeLabel(text, pixelSize, weight, color, parent);
    label->setText(label->fontMetrics().elidedText(text, mode, width));
    label->setMaximumWidth(width);
    label->setToolTip(plainToolTip(text));
    return label;
}

void PanelWidgetKit::setTextColor(QLabel* label, const NamedColor& color,
                                  const QWidget& reference) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color.resolve(reference));
    label->setPalette(palette);
}

void PanelWidgetKit::paintFocusRing(QPainter& painter, const QRectF& around, qreal radius,
                                    const QWidget& reference) {
    painter.save();
    painter.setOpacity(1);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath ring;
    ring.addRoundedRect(around.adjusted(1, 1, -1, -1), radius, radius);
    painter.strokePath(ring, QPen(PanelTheme::information().resolve(reference), 2));
    painter.restore();
}

QVBoxLayout* PanelWidgetKit::makeStack(QWidget* owner, int spacing) {
    auto* stack = new QVBoxLayout(owner);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(spacing);
    stack->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return stack;
}

QWidget* PanelWidgetKit::makeTransparent(QWidget* parent) {
    auto* widget = new QWidget(parent);
    widget->setAutoFillBackground(false);
    return widget;
}

PanelSurface* PanelWidgetKit::makeCard(const NamedColor& fill, int minimumHeight, QWidget* parent) {
    auto* card = new PanelSurface(fill, std::nullopt, 10, parent);
    card->setFixedWidth(documentWidth);
    card->setMinimumHeight(minimumHeight);
    return card;
}

QVBoxLayout* PanelWidgetKit::makeCardStack(PanelSurface* card, int spacing) {
    auto* outer = new QVBoxLayout(card);
    outer->setContentsMargins(16, 16, 16, 16);
    auto* stack = new QVBoxLayout;
    stack->setSpacing(spacing);
    stack->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    outer->addLayout(stack);
    return stack;
}

QWidget* PanelWidgetKit::makeDivider(QWidget* parent) {
    auto* divider = new PanelSurface(PanelTheme::separator(), std::nullopt, 0, parent);
    // Half a point: one device pixel on a doubled screen, a faint line on a single one.
    divider->setFixedSize(documentWidth, 1);
    divider->setObjectName(QStringLiteral("divider"));
    return divider;
}

PanelSurface* PanelWidgetKit::makeMessageCard(const QString& title, const QString& message,
                                              QWidget* parent) {
    return makeMessageCard(
        [&title](QWidget* card) {
            QLabel* heading = makeLabel(title, 13, QFont::Normal, PanelTheme::text(), card);
            heading->setObjectName(QStringLiteral("messageTitle"));
            return heading;
        },
        message, parent);
}

PanelSurface* PanelWidgetKit::makeMessageCard(const std::function<QWidget*(QWidget*)>& makeHeading,
                                              const QString& message, QWidget* parent) {
    PanelSurface* card = makeCard(PanelTheme::card(), 0, parent);
    card->setObjectName(QStringLiteral("messageCard"));
    QVBoxLayout* stack = makeCardStack(card, 6);
    stack->addWidget(makeHeading(card));
    QLabel* text =
        makeWrappingLabel(message, 10, QFont::Normal, PanelTheme::muted(), textWidth, card);
    text->setObjectName(QStringLiteral("message"));
    stack->addWidget(text);
    return card;
}

QVBoxLayout* PanelWidgetKit::messageStack(PanelSurface* card) {
    return static_cast<QVBoxLayout*>(card->layout()->itemAt(0)->layout());
}

}  // namespace kestrane::ui
