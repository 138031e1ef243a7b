#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "history/UsageAnalytics.h"
#include "history/UsageSeries.h"
#include "platform/Date.h"

namespace kestrane::ui {

// One point of the chart in remaining-percent space.
struct UsageChartPoint {
    platform::Date date;
    // Percent of the quota left: 100 - used, never below 0.
    double remaining = 0;

    bool operator==(const UsageChartPoint&) const = default;
};

// A piece of the remaining-percent line between two consecutive samples, tagged with how it is
// drawn: a solid observed line, a dashed line across a pause, or a step at a transition.
struct UsageChartConnection {
    // Continuous observation: a solid line through two points.
    struct Observed {
        bool operator==(const Observed&) const = default;
    };
    // A pause between the two samples: a dashed line through two points.
    struct Gap {
        bool operator==(const Gap&) const = default;
    };
    // A reset, correction or period change: a step through four points.
    using Kind = std::variant<history::UsageTransition, Observed, Gap>;

    std::vector<UsageChartPoint> points;
    Kind kind;

    bool isObserved() const { return std::holds_alternative<Observed>(kind); }
    bool isGap() const { return std::holds_alternative<Gap>(kind); }
    // The transition of a step, or nothing for the other kinds.
    const history::UsageTransition* transition() const {
        return std::get_if<history::UsageTransition>(&kind);
    }

    bool operator==(const UsageChartConnection&) const = default;
};

// What the 7-day chart draws of one window: a fixed domain ending at the analytics' `now`, the
// samples inside it and the connections between consecutive samples. Plain data, so it can be
// checked without a display.
struct UsageChartTimeline {
    struct Domain {
        platform::Date start;
        platform::Date end;
        double duration() const { return end - start; }
        bool contains(platform::Date date) const { return start <= date && date <= end; }
        bool operator==(const Domain&) const = default;
    };

    static constexpr double domainSeconds = 604'800;

    Domain domain;
    std::vector<UsageChartConnection> connections;
    std::vector<history::UsageSample> samples;

    UsageChartTimeline() = default;
    explicit UsageChartTimeline(const history::UsageAnalytics& analytics);

    // The transitions of the step connections that lie inside the domain, in connection order.
    std::vector<history::UsageTransition> transitions() const;

    bool operator==(const UsageChartTimeline&) const = default;
};

// The one-sentence description of the chart read out by assistive technology (UTF-8).
std::string usageChartSummary(const history::UsageAnalytics& analytics,
                              const UsageChartTimeline& timeline);

}  // namespace kestrane::ui
