#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "app/desktop/LocalServicesBackend.h"
#include "history/RhythmHistory.h"
#include "history/UsageSeries.h"
#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"
#include "platform/PreferencesStore.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace kestrane::ui {

// What the panel shows of one provider.
struct ProviderViewState {
    model::ProviderKind provider = model::ProviderKind::codex;
    bool isEnabled = false;
    std::optional<model::ProviderUsage> usage;
    std::optional<std::string> error;
    // Keyed by window id.
    std::map<std::string, history::RhythmHistory> rhythms;
    std::map<std::string, history::UsageSeries> history;
    bool operator==(const ProviderViewState&) const = default;
};

// The panel's content. Every change of state re-renders the view from the fields, so what it
// shows is a function of them. For now it lists each provider's state compactly.
class QuotaPopoverViewController : public QWidget {
    Q_OBJECT
  public:
    enum class Mode { overview, services, settings };

    explicit QuotaPopoverViewController(platform::PreferencesStore& defaults,
                                        QWidget* parent = nullptr);

    std::function<void()> onRefresh;
    std::function<void(model::ProviderKind, bool)> onToggle;
    std::function<void()> onOpenServices;
    std::function<void()> onRefreshServices;
    std::function<void(const app::LocalService&)> onStopService;
    std::function<void(QSize)> onSizeChange;

    void setIsRefreshing(bool refreshing) { isRefreshing_ = refreshing; }
    void setHistoryError(std::optional<std::string> error) { historyError_ = std::move(error); }
    void setStates(std::vector<ProviderViewState> states) { states_ = std::move(states); }
    void setLocalServices(app::LocalServicesViewState state) { localServices_ = std::move(state); }

    bool isRefreshing() const { return isRefreshing_; }
    const std::optional<std::string>& historyError() const { return historyError_; }
    const std::vector<ProviderViewState>& states() const { return states_; }
    const app::LocalServicesViewState& localServices() const { return localServices_; }
    std::optional<model::ProviderKind> selectedProvider() const { return selectedProvider_; }
    bool chartShowsBurn() const { return chartShowsBurn_; }
    Mode mode() const { return mode_; }

    void render();
    // The one-line text shown for a provider's row.
    static QString summary(const ProviderViewState& state);

  protected:
    void changeEvent(QEvent* event) override;

  private:
    platform::PreferencesStore& defaults_;
    bool rendering_ = false;
    QLabel* titleLabel_ = nullptr;
    QLabel* subtitleLabel_ = nullptr;
    QPushButton* refreshButton_ = nullptr;
    QLabel* historyErrorLabel_ = nullptr;
    QVBoxLayout* rows_ = nullptr;
    std::optional<model::ProviderKind> selectedProvider_;
    bool chartShowsBurn_ = false;
    bool isRefreshing_ = false;
    std::optional<std::string> historyError_;
    Mode mode_ = Mode::overview;
    std::vector<ProviderViewState> states_;
    app::LocalServicesViewState localServices_;
};

}  // namespace kestrane::ui
