#include "app/settings/Autostart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <system_error>

#include "platform/ConfigurationDirectory.h"
#include "platform/Environment.h"
#include "platform/Files.h"

namespace kestrane::app {

namespace {

// An entry is a few hundred bytes; anything far larger is not worth reading to the end.
constexpr std::size_t maxEntryBytes = 64 * 1024;

constexpr std::string_view writeFailure =
    "Не удалось включить запуск при входе: нет доступа к папке автозапуска.";
constexpr std::string_view removeFailure =
    "Не удалось отключить запуск при входе: нет доступа к папке автозапуска.";

// One argument of an Exec key. Arguments with characters the launcher would interpret are
// put in double quotes with ", `, $ and \ escaped; a percent sign is doubled so it is not a
// field code. Then the value as a whole escapes every backslash once more, because desktop
// entry strings unescape "\\" before the launcher splits the command line.
std::string execArgument(std::string_view argument) {
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    const bool quoted = argument.find_first_of(reserved) != std::string_view::npos;
    std::string unescaped;
    if (quoted) unescaped += '"';
    for (const char c : argument) {
        if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) unescaped += '\\';
        if (c == '%') unescaped += '%';
        unescaped += c;
    }
    if (quoted) unescaped += '"';

    std::string value;
    for (const char c : unescaped) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value;
}

// Keys of the [Desktop Entry] group that turn an existing entry off.
bool switchedOff(std::string_view text) {
    bool inMainGroup = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string line = platform::trimmedWhitespace(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key =
            platform::trimmedWhitespace(std::string_view(line).substr(0, equals));
        const std::string value =
            platform::trimmedWhitespace(std::string_view(line).substr(equals + 1));
        if (key == "Hidden" && value == "true") return true;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") return true;
    }
    return false;
}

// Creates `folder`, and any missing folder above it, when missing. Folders made for the
// configuration are private to the user, as the base-directory rules ask; the autostart
// folder itself follows the umask.
void makeFolder(const std::filesystem::path& folder, mode_t mode) {
    if (::mkdir(folder.c_str(), mode) == 0 || errno == EEXIST) return;
    if (errno == ENOENT && folder.has_relative_path() && folder.parent_path() != folder) {
        makeFolder(folder.parent_path(), 0700);
        if (::mkdir(folder.c_str(), mode) == 0 || errno == EEXIST) return;
    }
    throw AutostartError(std::string(writeFailure));
}

}  // namespace

Autostart::Autostart(std::filesystem::path configurationDirectory, std::filesystem::path executable)
    : executable_(std::move(executable)),
      entryPath_(std::move(configurationDirectory) / "autostart" / entryFileName) {}

Autostart Autostart::forUser(const platform::Environment& environment,
                             std::filesystem::path executable) {
    return Autostart(platform::configurationDirectory(environment), std::move(executable));
}

bool Autostart::isEnabled() const {
    std::error_code error;
    if (!std::filesystem::is_regular_file(entryPath_, error)) return false;
    // An entry we cannot read is still started by the desktop.
    const auto text = platform::readFile(entryPath_, maxEntryBytes);
    return !text || !switchedOff(*text);
}

void Autostart::setEnabled(bool enabled) const {
    if (!enabled) {
        if (::unlink(entryPath_.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) {
            throw AutostartError(std::string(removeFailure));
        }
        return;
    }
    const std::string text = entryText(executable_);
    const std::filesystem::path folder = entryPath_.parent_path();
    makeFolder(folder.parent_path(), 0700);
    makeFolder(folder, 0777);
    using std::filesystem::perms;
    const int error = platform::writeFileAtomically(
        entryPath_, text,
        perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);
    if (error != 0) throw AutostartError(std::string(writeFailure));
}

std::string Autostart::entryText(const std::filesystem::path& executable) {
    const std::string path = executable.string();
    const bool control = std::any_of(path.begin(), path.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
    if (!executable.is_absolute() || control) {
        throw AutostartError(
            "Не удалось включить запуск при входе: путь к программе нельзя записать в "
            "файл автозапуска.");
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kestrane\n"
           "Comment=Остаток лимитов ИИ-сервисов для программирования\n"
           "Exec=" +
           execArgument(path) +
           "\n"
           "Icon=io.github.kestrane.Kestrane\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace kestrane::app
