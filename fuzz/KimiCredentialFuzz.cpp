// The Kimi Code command-line tool's credential file.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FuzzSupport.h"
#include "platform/Environment.h"
#include "providers/kimi/KimiClient.h"

namespace {

// One private folder per fuzzing process, holding the credential file each input replaces.
const std::filesystem::path& kimiHome() {
    static const std::filesystem::path home = [] {
        auto path = std::filesystem::temp_directory_path() /
                    ("kestrane-fuzz-kimi-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path / "credentials");
        return path;
    }();
    return home;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    static const platform::MapEnvironment environment(
        {{std::string(providers::KimiClient::homeVariable), kimiHome().string()}}, "/nonexistent");
    static const fuzz::FixedClock clock;
    {
        std::ofstream file(kimiHome() / "credentials" / "kimi-code.json",
                           std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const providers::KimiClient client(environment, clock);
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const std::string credential = client.loadCredential();
        // It becomes an Authorization header: never empty, never anything but visible ASCII.
        if (credential.empty()) std::abort();
        for (const char c : credential) {
            if (c < 0x20 || c > 0x7E) std::abort();
        }
    });
    return 0;
}
