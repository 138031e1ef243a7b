// Claude Code's settings.json, where the key of z.ai or MiniMax may be found.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FuzzSupport.h"
#include "platform/Environment.h"
#include "providers/ClaudeCodeSettings.h"

namespace {

// One private folder per fuzzing process, holding the settings file each input replaces.
const std::filesystem::path& claudeFolder() {
    static const std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() /
                    ("kestrane-fuzz-claude-code-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    static const platform::MapEnvironment environment(
        {{"CLAUDE_CONFIG_DIR", claudeFolder().string()}}, "/nonexistent");
    static const providers::ClaudeCodeHost hosts[] = {{"z.ai", "https://api.z.ai"},
                                                      {"bigmodel.cn", "https://open.bigmodel.cn"}};
    {
        std::ofstream file(claudeFolder() / "settings.json", std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    // Never throws; a key it gives goes into a header line and only to a known origin.
    const auto key = providers::claudeCodeApiKey(environment, hosts);
    if (key) {
        if (!providers::isUsableApiKey(key->value)) std::abort();
        if (key->origin != "https://api.z.ai" && key->origin != "https://open.bigmodel.cn") {
            std::abort();
        }
    }
    return 0;
}
