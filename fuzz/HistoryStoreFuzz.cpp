// The usage history store opening whatever file it finds, then recording and pruning: it
// never throws, and a file it cannot read leaves an empty history and the read error text.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FuzzSupport.h"
#include "history/UsageHistoryStore.h"
#include "platform/Calendar.h"

namespace {

const std::filesystem::path& historyFile() {
    static const std::filesystem::path file = [] {
        const auto folder = std::filesystem::temp_directory_path() /
                            ("kestrane-fuzz-history-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        return folder / "usage-history-v1.json";
    }();
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    {
        std::ofstream file(historyFile(), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const platform::Date now{1'765'000'000};
    history::UsageHistoryStore store(historyFile(), now, platform::Calendar("Europe/Moscow"));
    const model::LimitWindow window{"claude-session", "Сессия", 40, 300,
                                    platform::Date{now + 3600}};
    store.record(
        model::ProviderUsage{
            .provider = model::ProviderKind::claude, .windows = {window}, .updatedAt = now},
        now);
    (void)store.series(model::ProviderKind::claude, window, now);
    (void)store.rhythm(model::ProviderKind::claude, window);
    store.pruneExpired(platform::Date{now + 86'400});
    return 0;
}
