#include "app/board/NotificationStateFile.h"

#include <cmath>
#include <system_error>

#include "platform/Files.h"
#include "platform/Json.h"

namespace kestrane::app {

namespace {

using Level = NotifiedWindowState::Level;
constexpr int version = 1;
// More windows than any account has: a bigger document is not ours.
constexpr std::size_t maximumWindows = 1000;

}  // namespace

NotificationStateFile NotificationStateFile::besideHistory(
    const std::filesystem::path& historyFile) {
    return NotificationStateFile(historyFile.parent_path() / fileName);
}

std::string NotificationStateFile::encode(const NotifiedState& state) {
    platform::Json windows = platform::Json::object();
    for (const auto& [key, window] : state) {
        platform::Json entry = {{"level", static_cast<int>(window.level)},
                                {"shortage", window.shortage}};
        if (window.resetsAt) entry["resetsAt"] = window.resetsAt->secondsSince1970;
        windows[key] = entry;
    }
    return platform::Json{{"version", version}, {"windows", windows}}.dump() + "\n";
}

NotifiedState NotificationStateFile::decode(std::string_view text) {
    try {
        const platform::Json root = platform::parseJson(text);
        platform::requireObject(root);
        if (platform::integerMember(root, "version") != version) return {};
        const platform::Json* windows = platform::objectMember(root, "windows");
        if (!windows || windows->size() > maximumWindows) return {};
        NotifiedState state;
        for (const auto& [key, entry] : windows->items()) {
            platform::requireObject(entry);
            const auto level = platform::integerMember(entry, "level");
            if (!level || *level < 0 || *level > static_cast<int>(Level::critical)) return {};
            NotifiedWindowState window;
            window.level = static_cast<Level>(*level);
            window.shortage = platform::boolMember(entry, "shortage").value_or(false);
            if (const auto resetsAt = platform::numberMember(entry, "resetsAt")) {
                if (!std::isfinite(*resetsAt)) return {};
                window.resetsAt = platform::Date{*resetsAt};
            }
            state[key] = window;
        }
        return state;
    } catch (const std::exception&) {
        return {};
    }
}

NotifiedState NotificationStateFile::load() const {
    const auto text = platform::readFile(path_, maximumBytes);
    if (!text) return {};
    return decode(*text);
}

bool NotificationStateFile::save(const NotifiedState& state) const {
    std::error_code ignored;
    std::filesystem::create_directories(path_.parent_path(), ignored);
    return platform::writeFileAtomically(
               path_, encode(state),
               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write) == 0;
}

}  // namespace kestrane::app
