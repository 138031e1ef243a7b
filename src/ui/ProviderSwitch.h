#pragma once

#include <QAbstractButton>

#include "model/ProviderKind.h"

namespace kestrane::ui {

// The on/off switch of one provider on the settings screen. On/off is the checked state.
class ProviderSwitch : public QAbstractButton {
    Q_OBJECT
  public:
    explicit ProviderSwitch(model::ProviderKind provider, QWidget* parent = nullptr);
    // The same switch for a setting of the program itself; provider() then means nothing.
    ProviderSwitch(const QString& accessibleName, const QString& objectName,
                   QWidget* parent = nullptr);

    model::ProviderKind provider() const { return provider_; }

    // Where the track and the knob are drawn for the current state.
    QRectF trackRect() const;
    QRectF knobRect() const;
    // 1 when enabled, 0.75 while pressed, 0.4 when disabled.
    qreal drawingOpacity() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    model::ProviderKind provider_;
};

}  // namespace kestrane::ui
