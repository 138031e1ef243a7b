#pragma once

#include <QString>

#include "ui/HoverButton.h"

#include "ui/PanelTheme.h"

namespace kestrane::ui {

// A flat button of the panel: a symbol, a title, or a title with a symbol after it, drawn in
// one tint of the palette. Dimmed while pressed and faint while disabled, like the panel's
// other controls, so it looks the same on every widget style.
class PanelButton : public HoverButton {
    Q_OBJECT
  public:
    enum class Bezel { none, rounded };

    // An empty `symbol` draws the title alone; an empty `title` the symbol alone.
    PanelButton(const QString& title, const QString& symbol, NamedColor tint,
                QWidget* parent = nullptr);

    const QString& symbol() const { return symbol_; }
    void setSymbol(const QString& symbol);
    void setTint(NamedColor tint);
    const NamedColor& tint() const { return tint_; }
    void setBezel(Bezel bezel);
    Bezel bezel() const { return bezel_; }
    void setFontPixelSize(int pixelSize);
    void setSymbolSize(qreal side);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // Opacity of the drawing: 1 normally, 0.75 while pressed, 0.4 when disabled.
    qreal drawingOpacity() const;

    // A built-in symbol ("arrow.clockwise", "gearshape", ...) drawn in `color` into a square of
    // `side` points; a null image when the symbol is unknown.
    static QImage symbolImage(const QString& name, const QColor& color, qreal side,
                              qreal devicePixelRatio);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QFont titleFont() const;

    QString symbol_;
    NamedColor tint_;
    Bezel bezel_ = Bezel::none;
    int fontPixelSize_ = 11;
    qreal symbolSide_ = 14;
};

}  // namespace kestrane::ui
