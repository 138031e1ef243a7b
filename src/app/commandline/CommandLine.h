#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "model/ProviderKind.h"

namespace kestrane::app {

// What the command line asks for. The first mode option decides; the options it accepts
// follow it in any order. No option at all (or only --preview) starts the tray application.
struct CommandLine {
    enum class Mode { application, probe, status, services, stop, help, version };
    enum class Format { text, json, waybar };

    Mode mode = Mode::application;
    Format format = Format::text;
    // The providers named after --probe or --status, in order, repeats kept; empty: the
    // mode's default (every provider for --probe, the enabled ones for --status).
    std::vector<model::ProviderKind> providers;
    // The process to stop.
    std::int32_t pid = 0;
    bool preview = false;

    bool operator==(const CommandLine&) const = default;

    // `arguments` without the program name. An error is one Russian line for standard error.
    static std::variant<CommandLine, std::string> parse(const std::vector<std::string>& arguments);

    // The Russian help text, every option listed.
    static std::string helpText();
};

}  // namespace kestrane::app
