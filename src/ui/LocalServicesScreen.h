#pragma once

#include "localservices/LocalService.h"
#include "localservices/LocalServicesViewState.h"
#include "ui/PanelScreenContext.h"

class QWidget;

namespace kestrane::ui {

// The local services: a toolbar with the scan's status, then a card per service with its
// address, figures, project, command and stop button, or a message when there is none.
class LocalServicesScreen {
  public:
    LocalServicesScreen(const localservices::LocalServicesViewState& state,
                        const PanelScreenContext& context)
        : state_(state), context_(context) {}

    // The screen's document, parented to the context's owner.
    QWidget* make() const;

  private:
    QWidget* makeToolbar(QWidget* parent) const;
    QWidget* makeServiceCard(const localservices::LocalService& service, QWidget* parent) const;

    const localservices::LocalServicesViewState& state_;
    const PanelScreenContext& context_;
};

}  // namespace kestrane::ui
