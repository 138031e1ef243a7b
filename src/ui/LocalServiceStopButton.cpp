#include "ui/LocalServiceStopButton.h"

namespace kestrane::ui {

LocalServiceStopButton::LocalServiceStopButton(const QString& title, QString serviceID,
                                               QWidget* parent)
    : PanelButton(title, QString(), PanelTheme::warning(), parent),
      serviceID_(std::move(serviceID)) {
    setBezel(Bezel::rounded);
    setFontPixelSize(11);
}

}  // namespace kestrane::ui
