#pragma once

#include <functional>
#include <string_view>

#include <QFont>
#include <QString>

#include "model/ProviderKind.h"
#include "ui/PanelTheme.h"

class QLabel;
class QPainter;
class QVBoxLayout;
class QWidget;

namespace kestrane::ui {

class PanelSurface;

// What every screen of the panel is built from, so the screens share one look: the widths of
// the document, its fonts, labels, cards and dividers. Labels are always plain text: much of
// what they show (names, plans, e-mails, messages, commands) comes from outside.
class PanelWidgetKit {
  public:
    // The document column inside the panel.
    static constexpr int documentWidth = 408;
    // Text columns inside the document keep 16 points clear on both sides.
    static constexpr int textWidth = 376;

    static QString toQString(std::string_view text);
    static QString displayName(model::ProviderKind kind);
    // The name in the provider switch, where seven share one row: the product's own word
    // without its maker ("Copilot", "Gemini"); the card below it names it in full.
    static QString switchLabel(model::ProviderKind kind);
    // One number through a printf format ("%.2f").
    static QString formatted(const char* format, double value);
    // The panel's texts keep a number with the word after it ("12 п.п.", "5 мин.", "3 дня",
    // "1,2 ГБ", "10 мар."): the space between them becomes a non-breaking one, so a wrapped
    // line never ends on a bare number. For what the panel composes; the command line's texts,
    // made by the same formatters, keep their ordinary spaces.
    static QString keepUnitsWithNumbers(QString text);
    // Text for a tool tip that shows `text` as it is, never as rich text.
    static QString plainToolTip(const QString& text);

    // The reference widget's font at that size and weight.
    static QFont panelFont(const QWidget& reference, int pixelSize, QFont::Weight weight);
    static QLabel* makeLabel(const QString& text, int pixelSize, QFont::Weight weight,
                             const NamedColor& color, QWidget* parent);
    // A label that wraps at `width` and whose text can be selected and copied.
    static QLabel* makeWrappingLabel(const QString& text, int pixelSize, QFont::Weight weight,
                                     const NamedColor& color, int width, QWidget* parent);
    // A one-line label cut with an ellipsis to at most `width`; the tool tip has it whole.
    static QLabel* makeElidedLabel(const QString& text, int pixelSize, QFont::Weight weight,
                                   const NamedColor& color, int width, Qt::TextElideMode mode,
                                   QWidget* parent);
    // The keyboard focus mark: a ring in the information tint just inside `around`, clear on
    // the light and on the dark panel.
    static void paintFocusRing(QPainter& painter, const QRectF& around, qreal radius,
                               const QWidget& reference);
    // Enter and Return, which press a panel button as Space does.
    static bool isEnterKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }
    // Sets the colour of a label's text.
    static void setTextColor(QLabel* label, const NamedColor& color, const QWidget& reference);

    // A vertical stack on `owner`, top-left aligned, without margins.
    static QVBoxLayout* makeStack(QWidget* owner, int spacing);
    static QWidget* makeTransparent(QWidget* parent);
    // A rounded card, the document's width.
    static PanelSurface* makeCard(const NamedColor& fill, int minimumHeight, QWidget* parent);
    // The stack inside `card`, its content inset 16 on every side.
    static QVBoxLayout* makeCardStack(PanelSurface* card, int spacing);
    static QWidget* makeDivider(QWidget* parent);
    // A card with a heading over a wrapped message; the heading is a title or what
    // `makeHeading` builds on the card.
    static PanelSurface* makeMessageCard(const QString& title, const QString& message,
                                         QWidget* parent);
    static PanelSurface* makeMessageCard(const std::function<QWidget*(QWidget*)>& makeHeading,
                                         const QString& message, QWidget* parent);
    // The stack a message card's heading and message sit in, for more below them.
    static QVBoxLayout* messageStack(PanelSurface* card);
};

}  // namespace kestrane::ui
