#pragma once

#include <vector>

#include "ui/PanelScreenContext.h"
#include "ui/ProviderViewState.h"

class QWidget;

namespace kestrane::ui {

// The settings: one row per provider with its mark, name and the switch that shows it in the
// tray, divided by hairlines.
class SettingsScreen {
  public:
    SettingsScreen(const std::vector<ProviderViewState>& states, const PanelScreenContext& context)
        : states_(states), context_(context) {}

    // The screen's document, parented to the context's owner.
    QWidget* make() const;

  private:
    QWidget* makeRow(const ProviderViewState& state, QWidget* parent) const;

    const std::vector<ProviderViewState>& states_;
    const PanelScreenContext& context_;
};

}  // namespace kestrane::ui
