#include "ui/UsageChartTimeline.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace kestrane::ui {

namespace {

using history::UsageSample;
using history::UsageTransition;

// A pause longer than this between two empty readings is drawn dashed.
constexpr double kPauseSeconds = 900;

UsageChartPoint pointOf(const UsageSample& sample) {
    return {sample.date, std::max(0.0, 100.0 - sample.usedPercent)};
}

std::optional<UsageChartConnection> connection(const UsageSample& a, const UsageSample& b,
                                               const UsageChartTimeline::Domain& domain) {
    if (b.date < domain.start || a.date > domain.end || !(b.date > a.date)) return std::nullopt;
    const UsageChartPoint pa = pointOf(a);
    const UsageChartPoint pb = pointOf(b);
    const auto& tr = b.transition;
    // A new period that starts where the old one stood at zero changes nothing on the chart, so
    // it is joined like two plain readings rather than drawn as a step.
    if (tr && tr->kind == UsageTransition::Kind::periodChange && tr->isEstimated &&
        a.usedPercent == 0 && b.usedPercent == 0) {
        if (b.date - a.date > kPauseSeconds)
            return UsageChartConnection{{pa, pb}, {UsageChartConnection::Gap{}}};
        return UsageChartConnection{{pa, pb}, {UsageChartConnection::Observed{}}};
    }
    if (tr) {
        // A transition placed outside its pair (a reset time known in advance) is drawn at the
        // nearer end of the pair, so the step never leaves the line.
        platform::Date step = tr->date;
        if (step < a.date) step = a.date;
        if (!(step < b.date)) step = b.date;
        return UsageChartConnection{{pa, {step, pa.remaining}, {step, pb.remaining}, pb}, {*tr}};
    }
    if (b.startsSegment) return UsageChartConnection{{pa, pb}, {UsageChartConnection::Gap{}}};
    return UsageChartConnection{{pa, pb}, {UsageChartConnection::Observed{}}};
}

std::string fixedOneDecimal(double value) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, 1);
    if (result.ec != std::errc()) return "0.0";
    return std::string(buffer.data(), result.ptr);
}

}  // namespace

UsageChartTimeline::UsageChartTimeline(const history::UsageAnalytics& analytics)
    : domain{analytics.now - domainSeconds, analytics.now} {
    const auto& all = analytics.samples;
    for (const auto& sample : all) {
        if (domain.contains(sample.date)) samples.push_back(sample);
    }
    // The full list includes the one sample kept before the cutoff, so the line reaches the left
    // edge.
    for (std::size_t i = 1; i < all.size(); ++i) {
        if (auto made = connection(all[i - 1], all[i], domain)) {
            connections.push_back(std::move(*made));
        }
    }
}

std::vector<history::UsageTransition> UsageChartTimeline::transitions() const {
    std::vector<history::UsageTransition> result;
    for (const auto& connection : connections) {
        if (const auto* transition = connection.transition();
            transition && domain.contains(transition->date)) {
            result.push_back(*transition);
        }
    }
    return result;
}

std::string usageChartSummary(const history::UsageAnalytics& analytics,
                              const UsageChartTimeline& timeline) {
    std::string rate = "недостаточно данных";
    if (const auto observation = analytics.recentObservation()) {
        rate = fixedOneDecimal(observation->used / observation->seconds * 3600) + " п.п. в час";
    }
    const auto transitions = timeline.transitions();
    const auto resets = std::count_if(transitions.begin(), transitions.end(), [](const auto& t) {
        return t.kind == UsageTransition::Kind::reset;
    });
    // std::round rounds halves away from zero, as every shown percentage does.
    const auto remaining = static_cast<long long>(std::round(analytics.remainingPercent));
    return "История за 7 дней. Осталось " + std::to_string(remaining) + "%. Темп: " + rate +
           ". Сбросов: " + std::to_string(resets) + ". Пунктир соединяет наблюдения через паузы.";
}

}  // namespace kestrane::ui
