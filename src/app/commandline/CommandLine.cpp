#include "app/commandline/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

namespace kestrane::app {
namespace {

using Mode = CommandLine::Mode;
using Format = CommandLine::Format;

// Words from outside are quoted in messages, so a long or odd one is cut short.
std::string quoted(std::string_view word) {
    constexpr std::size_t limit = 60;
    std::string text(word.substr(0, limit));
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    if (word.size() > limit) text += "...";
    return "«" + text + "»";
}

std::string failure(const std::string& text) {
    return "kestrane: " + text + " Справка: kestrane --help";
}

std::optional<Mode> modeNamed(std::string_view word) {
    if (word == "--probe") return Mode::probe;
    if (word == "--status") return Mode::status;
    if (word == "--services") return Mode::services;
    if (word == "--stop") return Mode::stop;
    return std::nullopt;
}

std::optional<std::int32_t> processID(std::string_view word) {
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || word.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::variant<CommandLine, std::string> CommandLine::parse(
    const std::vector<std::string>& arguments) {
    // Help and version win wherever they stand, as in most programs.
    for (const std::string& word : arguments) {
        if (word == "--help" || word == "-h") return CommandLine{.mode = Mode::help};
        if (word == "--version" || word == "-V") return CommandLine{.mode = Mode::version};
    }

    CommandLine line;
    std::optional<Mode> mode;
    std::string modeWord;
    bool expectsPID = false;
    bool hasPID = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (expectsPID) {
            const auto pid = processID(word);
            if (!pid) return failure("PID должен быть целым числом, а не " + quoted(word) + ".");
            line.pid = *pid;
            hasPID = true;
            expectsPID = false;
            continue;
        }
        if (const auto named = modeNamed(word)) {
            if (mode) {
                return failure("параметры " + quoted(modeWord) + " и " + quoted(word) +
                               " нельзя указывать вместе.");
            }
            mode = *named;
            modeWord = word;
            expectsPID = *named == Mode::stop;
            continue;
        }
        if (word == "--preview") {
            if (mode) return failure("параметр «--preview» работает только без других режимов.");
            line.preview = true;
            continue;
        }
        if (word == "--json") {
            if (mode != Mode::probe && mode != Mode::status && mode != Mode::services) {
                return failure("параметр «--json» пишется после --probe, --status или --services.");
            }
            line.format = Format::json;
            continue;
        }
        if (word == "--format" || word.rfind("--format=", 0) == 0) {
            if (mode != Mode::status) {
                return failure("параметр «--format» пишется после --status.");
            }
            std::string value;
            if (word == "--format") {
                if (i + 1 == arguments.size()) {
                    return failure("после «--format» нужно имя формата: waybar.");
                }
                value = arguments[++i];
            } else {
                value = word.substr(9);
            }
            if (value != "waybar") {
                return failure("неизвестный формат " + quoted(value) + ": есть только waybar.");
            }
            line.format = Format::waybar;
            continue;
        }
        if (!word.empty() && word.front() == '-') {
            return failure("неизвестный параметр " + quoted(word) + ".");
        }
        if (mode == Mode::probe || mode == Mode::status) {
            // A word that names no provider is skipped, as the probe always did.
            if (const auto kind = model::providerKindFromCommandWord(word))
                line.providers.push_back(*kind);
            continue;
        }
        return failure("лишний аргумент " + quoted(word) + ".");
    }
    if (expectsPID) return failure("после «--stop» нужен PID процесса.");
    if (mode == Mode::stop && !hasPID) return failure("после «--stop» нужен PID процесса.");
    line.mode = mode.value_or(Mode::application);
    if (line.preview && line.mode != Mode::application) {
        return failure("параметр «--preview» работает только без других режимов.");
    }
    return line;
}

std::string CommandLine::helpText() {
    return R"(Использование: kestrane [ПАРАМЕТР...]

Остаток лимитов ИИ-сервисов для программирования: Codex, Cursor, Claude, Kimi Code,
Antigravity, GitHub Copilot, Gemini CLI, z.ai, MiniMax, OpenRouter. Без параметров
запускается приложение в области уведомлений.

Параметры:
  --preview                 запустить приложение и сразу открыть панель
  --probe [ПРОВАЙДЕР...]    разово запросить лимиты у серверов и напечатать
                            по строке на провайдера (израсходованная доля окон)
  --probe --json [ПРОВАЙДЕР...]
                            то же одним документом JSON
  --status [ПРОВАЙДЕР...]   последнее состояние запущенного приложения без
                            сетевых запросов, одной строкой: «Cl 59% · Cx 88%»
  --status --json           то же в JSON, с прогнозом остатка к сбросу
  --status --format waybar  JSON для пользовательского модуля Waybar
  --services [--json]       локальные службы разработки, как в панели
  --stop PID                остановить службу из этого списка (только SIGTERM,
                            после той же проверки, что и в панели)
  -h, --help                показать эту справку
  -V, --version             показать версию

Провайдеры: codex, cursor, claude, kimi, antigravity, copilot, gemini, zai, minimax,
openrouter (регистр не важен). Без имён --probe спрашивает первые пять, copilot и
gemini — когда на этом компьютере есть их вход, а zai, minimax и openrouter — когда
найден их ключ API (ZAI_API_KEY, MINIMAX_API_KEY, OPENROUTER_API_KEY, настройки
Claude Code или связка ключей).

Код завершения: 0 — успешно; 1 — провайдер не ответил или служба не
остановлена; 2 — неверные параметры; 3 — приложение не запущено (--status).
)";
}

}  // namespace kestrane::app
