#pragma once

#include "model/ProviderKind.h"
#include "ui/PanelSwitch.h"

namespace kestrane::ui {

// The on/off switch of one provider on the settings screen. On/off is the checked state.
class ProviderSwitch : public PanelSwitch {
    Q_OBJECT
  public:
    explicit ProviderSwitch(model::ProviderKind provider, QWidget* parent = nullptr);

    model::ProviderKind provider() const { return provider_; }

  private:
    model::ProviderKind provider_;
};

}  // namespace kestrane::ui
