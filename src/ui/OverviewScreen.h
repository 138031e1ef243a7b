#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <QString>

#include "app/board/ProviderBoard.h"
#include "history/UsageAnalytics.h"
#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"
#include "ui/PanelScreenContext.h"
#include "ui/ProviderViewState.h"
#include "ui/UsageChartView.h"

class QLabel;
class QVBoxLayout;
class QWidget;

namespace kestrane::ui {

// The quota overview: the provider switch over the selected provider's card, which shows
// either a message or its usage: who and which window, the big figure with its bar and reset
// time, the forecast, the chart, the other windows and the account details.
class OverviewScreen {
  public:
    struct State {
        const std::vector<ProviderViewState>& states;
        // The provider shown; nothing when none is enabled.
        const ProviderViewState* selected = nullptr;
        // The window shown, an index into the selected provider's windows.
        std::size_t selectedWindow = 0;
        UsageChartView::Style chartStyle = UsageChartView::Style::remaining;
        bool showsAccountDetails = false;
        const std::optional<std::string>& historyError;
        // The board's outlooks: each window's history and forecast, and the service to use
        // now. None: no history and no forecast.
        const app::BoardSnapshot* outlooks = nullptr;
    };

    OverviewScreen(const State& state, const PanelScreenContext& context)
        : state_(state), context_(context) {}

    // The screen's document, parented to the context's owner.
    QWidget* make() const;

    // The period title of a window as listed: without the provider's name in front when the
    // window is named after the provider.
    static QString periodTitle(model::ProviderKind provider, const model::LimitWindow& window);

  private:
    // Which enabled service to use now and why; nothing when there is nothing to choose.
    QLabel* makeRecommendation(QWidget* parent) const;
    QWidget* makeProviderCard(const ProviderViewState& state, QWidget* parent) const;
    QWidget* makeProviderHeader(const ProviderViewState& state, QWidget* parent) const;
    QWidget* makeUsageCard(const ProviderViewState& state, QWidget* parent) const;
    // Who, and which window.
    QWidget* makeTopRow(const ProviderViewState& state, QWidget* parent) const;
    // The big figure with its caption, the bar and the reset time.
    void addFigure(QVBoxLayout* stack, QWidget* card, const model::LimitWindow& window,
                   const history::UsageAnalytics& analytics) const;
    // The board's forecast of the shown window, when it made one.
    QWidget* makeForecast(const app::BoardWindow* read, QWidget* parent) const;
    // Under the forecast: how it did on this window's past cycles.
    void addTrackRecord(QVBoxLayout* stack, QWidget* parent,
                        const forecast::BacktestResult& result) const;
    // The chart with the choice of its style above it.
    void addChart(QVBoxLayout* stack, QWidget* card,
                  const history::UsageAnalytics& analytics) const;
    // One row per window that is not shown, to switch to it.
    void addOtherWindows(QVBoxLayout* stack, QWidget* card, const ProviderViewState& state) const;
    // The account details behind their toggle.
    void addDetails(QVBoxLayout* stack, QWidget* card, const model::ProviderUsage& usage) const;

    const State& state_;
    const PanelScreenContext& context_;
};

}  // namespace kestrane::ui
