#include "app/desktop/TrayPresenter.h"

#include "app/desktop/TrayToolTip.h"

namespace kestrane::app {

TrayPresenter::TrayPresenter(TrayIcons& icons, QObject* parent) : QObject(parent), icons_(icons) {}

ui::TrayIconRenderer::Content TrayPresenter::contentOf(const BoardSnapshot& snapshot) {
    ui::TrayIconRenderer::Content content;
    for (const model::ProviderKind kind : snapshot.enabled) {
        const ProviderState& state = snapshot.state(kind);
        std::string value = remainingText(state);
        std::string toolTip = trayToolTip(kind, value, state.usage, state.error, snapshot.calendar);
        content.entries.push_back({kind, std::move(value), std::move(toolTip)});
    }
    return content;
}

void TrayPresenter::show(const std::shared_ptr<const BoardSnapshot>& snapshot) {
    snapshot_ = snapshot;
    redraw();
}

void TrayPresenter::setHeld(bool held) {
    held_ = held;
    if (!held_ && pending_) redraw();
}

void TrayPresenter::redraw() {
    if (!snapshot_) return;
    if (held_) {
        pending_ = true;
        return;
    }
    pending_ = false;
    ui::TrayIconRenderer::Content content = contentOf(*snapshot_);
    if (shown_ && *shown_ == content) return;
    shown_ = content;
    icons_.show(content);
}

}  // namespace kestrane::app
