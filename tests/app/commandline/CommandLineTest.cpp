#include "app/commandline/CommandLine.h"

#include <gtest/gtest.h>

namespace kestrane::app {
namespace {

using Mode = CommandLine::Mode;
using Format = CommandLine::Format;
using model::ProviderKind;

TEST(CommandLineTest, ReadsEveryModeAndItsOptions) {
    struct Case {
        std::vector<std::string> arguments;
        CommandLine expected;
    };
    const Case cases[] = {
        {{}, {}},
        {{"--preview"}, {.preview = true}},
        {{"--probe"}, {.mode = Mode::probe}},
        {{"--probe", "KIMI", "claude"},
         {.mode = Mode::probe, .providers = {ProviderKind::kimi, ProviderKind::claude}}},
        // Words that name no provider are skipped, as the probe always did.
        {{"--probe", "claude", "bard"}, {.mode = Mode::probe, .providers = {ProviderKind::claude}}},
        {{"--probe", "claude", "gemini", "COPILOT"},
         {.mode = Mode::probe,
          .providers = {ProviderKind::claude, ProviderKind::gemini, ProviderKind::copilot}}},
        {{"--status", "Gemini CLI", "copilot"},
         {.mode = Mode::status, .providers = {ProviderKind::gemini, ProviderKind::copilot}}},
        {{"--probe", "claude", "claude"},
         {.mode = Mode::probe, .providers = {ProviderKind::claude, ProviderKind::claude}}},
        {{"--probe", "--json", "codex"},
         {.mode = Mode::probe, .format = Format::json, .providers = {ProviderKind::codex}}},
        {{"--probe", "codex", "--json"},
         {.mode = Mode::probe, .format = Format::json, .providers = {ProviderKind::codex}}},
        {{"--status"}, {.mode = Mode::status}},
        {{"--status", "--json"}, {.mode = Mode::status, .format = Format::json}},
        {{"--status", "--format", "waybar", "cursor"},
         {.mode = Mode::status, .format = Format::waybar, .providers = {ProviderKind::cursor}}},
        {{"--status", "--format=waybar"}, {.mode = Mode::status, .format = Format::waybar}},
        {{"--services"}, {.mode = Mode::services}},
        {{"--services", "--json"}, {.mode = Mode::services, .format = Format::json}},
        {{"--stop", "4242"}, {.mode = Mode::stop, .pid = 4242}},
        {{"--stop", "1"}, {.mode = Mode::stop, .pid = 1}},
        {{"--help"}, {.mode = Mode::help}},
        {{"-h"}, {.mode = Mode::help}},
        {{"--version"}, {.mode = Mode::version}},
        // Help wins wherever it stands, even next to a mistake.
        {{"--probe", "--bogus", "--help"}, {.mode = Mode::help}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const auto parsed = CommandLine::parse(c.arguments);
        ASSERT_TRUE(std::holds_alternative<CommandLine>(parsed)) << std::get<std::string>(parsed);
        EXPECT_EQ(std::get<CommandLine>(parsed), c.expected);
    }
}

TEST(CommandLineTest, RefusesWhatItDoesNotKnowWithOneRussianLine) {
    struct Case {
        std::vector<std::string> arguments;
        const char* mentions;
    };
    const Case cases[] = {
        {{"--bogus"}, "«--bogus»"},
        {{"--probe", "--bogus"}, "«--bogus»"},
        {{"-x"}, "«-x»"},
        {{"claude"}, "«claude»"},
        {{"--json"}, "--json"},
        {{"--services", "claude"}, "«claude»"},
        {{"--probe", "--format", "waybar"}, "--format"},
        {{"--status", "--format"}, "--format"},
        {{"--status", "--format", "xml"}, "«xml»"},
        {{"--stop"}, "PID"},
        {{"--stop", "abc"}, "«abc»"},
        {{"--stop", "12x"}, "«12x»"},
        {{"--stop", "99999999999"}, "«99999999999»"},
        {{"--stop", "12", "13"}, "«13»"},
        {{"--probe", "--status"}, "«--status»"},
        {{"--status", "--preview"}, "--preview"},
        {{"--preview", "--probe"}, "--preview"},
        // Control characters from the command line never reach the terminal.
        {{"--\x1b[31mred"}, "«--?[31mred»"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const auto parsed = CommandLine::parse(c.arguments);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
        const std::string& message = std::get<std::string>(parsed);
        EXPECT_NE(message.find(c.mentions), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        EXPECT_EQ(message.rfind("kestrane: ", 0), 0u) << message;
    }
}

TEST(CommandLineTest, HelpNamesEveryOption) {
    const std::string help = CommandLine::helpText();
    for (const char* option : {"--preview", "--probe", "--json", "--status", "--format", "waybar",
                               "--services", "--stop", "--help", "--version"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    for (const model::ProviderKind kind : model::allProviderKinds) {
        EXPECT_NE(help.find(model::commandName(kind)), std::string::npos)
            << model::commandName(kind);
    }
}

}  // namespace
}  // namespace kestrane::app
