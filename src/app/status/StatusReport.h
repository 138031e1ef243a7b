#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/commandline/CommandLine.h"
#include "app/status/StatusSnapshot.h"
#include "model/ProviderKind.h"
#include "platform/Date.h"
#include "platform/Environment.h"

namespace kestrane::app::StatusReport {

// Printed (with exit status 3) when no instance runs.
inline constexpr std::string_view notRunningMessage =
    "Kestrane не запущен: нет последнего состояния лимитов.";

// Bar classes by the lowest remaining percent shown: at most `criticalAt` is critical, at most
// `warningAt` a warning, anything above fine.
inline constexpr int criticalAt = 5;
inline constexpr int warningAt = 20;

// Two letters per provider for a narrow bar: Cx, Cu, Cl, Ki, Ag, Gh, Gm.
std::string_view shortName(model::ProviderKind kind);

// The providers to report: those named (in that order), else the enabled ones.
std::vector<ProviderStatus> select(const StatusSnapshot& snapshot,
                                   const std::vector<model::ProviderKind>& requested);

// "Cl 59% · Cx 88% · Cu 10%" and a newline.
std::string text(const std::vector<ProviderStatus>& providers);
// The JSON document of docs/json.md.
std::string json(const StatusSnapshot& snapshot, const std::vector<ProviderStatus>& providers);
// Waybar's custom-module JSON: text, tooltip, class, percentage.
std::string waybar(const std::vector<ProviderStatus>& providers, platform::Date now);
// "ok", "warning", "critical", or "unknown" when no provider has a percentage.
std::string barClass(const std::vector<ProviderStatus>& providers);

// When no instance runs: the message as a one-line JSON document, and for Waybar a module
// that says so in its tool tip.
std::string notRunningJson();
std::string notRunningWaybar();

// `kestrane --status`: reads the running instance's file, asks no server. 0, or 3 when no
// instance runs.
int run(const CommandLine& line, const platform::Environment& environment, platform::Date now,
        std::ostream& out);

}  // namespace kestrane::app::StatusReport
