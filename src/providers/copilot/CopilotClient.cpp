#include "providers/copilot/CopilotClient.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

#include "model/OutsideText.h"
#include "model/QuotaError.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/Iso8601.h"
#include "platform/Json.h"
#include "platform/TextConversions.h"

namespace kestrane::providers {
namespace {

namespace fs = std::filesystem;
using model::LimitWindow;
using model::ProviderUsage;
using model::QuotaError;
using platform::Json;

constexpr std::string_view kDefaultOrigin = "https://api.github.com";
constexpr std::string_view kGithubHost = "github.com";
// Sign-in files are a few hundred bytes; anything this large is not one of them.
constexpr std::size_t kMaxSignInFileBytes = 1024 * 1024;
// A GitHub token is under a hundred characters; `gh auth token` prints one line.
constexpr std::size_t kMaxTokenBytes = 4096;
constexpr std::size_t kMaxCliOutputBytes = 64 * 1024;
// Copilot's quotas renew every month.
constexpr std::int64_t kMonthMinutes = 43200;

const char* const kNotSignedIn =
    "GitHub Copilot не авторизован. Войдите в Copilot в редакторе (VS Code, JetBrains, Neovim) "
    "или выполните `gh auth login`.";
const char* const kUnreadable = "Не удалось разобрать квоты GitHub Copilot.";

// The token goes into a header line: only visible ASCII, so nothing can add a header.
bool isToken(std::string_view text) { return platform::isVisibleAsciiToken(text, kMaxTokenBytes); }

std::string withoutQuotes(std::string text) {
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front()) {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

std::size_t indentation(std::string_view line) {
    std::size_t spaces = 0;
    while (spaces < line.size() && (line[spaces] == ' ' || line[spaces] == '\t')) ++spaces;
    return spaces;
}

// Absolute, executable regular files named `gh`: PATH first, then where installers put it.
std::vector<fs::path> githubCliExecutables(const platform::Environment& environment) {
    std::vector<fs::path> folders;
    if (const auto path = environment.value("PATH")) {
        std::string_view rest = *path;
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            const fs::path folder(std::string(rest.substr(0, colon)));
            if (folder.is_absolute()) folders.push_back(folder);
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    }
    const fs::path home = environment.homeDirectory();
    for (const fs::path& folder :
         {fs::path("/usr/local/bin"), fs::path("/usr/bin"), fs::path("/opt/homebrew/bin"),
          fs::path("/home/linuxbrew/.linuxbrew/bin"), fs::path("/snap/bin"), home / ".local/bin",
          home / "bin"}) {
        folders.push_back(folder);
    }
    std::vector<fs::path> found;
    for (const fs::path& folder : folders) {
        const fs::path candidate = folder / "gh";
        std::error_code error;
        if (!fs::is_regular_file(candidate, error)) continue;
        if (::access(candidate.c_str(), X_OK) != 0) continue;
        if (std::find(found.begin(), found.end(), candidate) == found.end()) {
            found.push_back(candidate);
        }
    }
    return found;
}

double clampedPercent(double value) { return std::clamp(value, 0.0, 100.0); }

// One member of quota_snapshots as a window, or nothing when it is unlimited, has no quota
// at all, or gives no share. Members of the wrong type fail the whole answer.
std::optional<LimitWindow> snapshotWindow(const Json& snapshots, std::string_view key,
                                          std::string id, std::string name,
                                          std::optional<platform::Date> resetsAt) {
    const Json* snapshot = platform::objectMember(snapshots, key);
    if (!snapshot) return std::nullopt;
    const auto unlimited = platform::boolMember(*snapshot, "unlimited");
    const auto percentRemaining = platform::numberMember(*snapshot, "percent_remaining");
    const auto entitlement = platform::numberMember(*snapshot, "entitlement");
    const auto remaining = platform::numberMember(*snapshot, "remaining");
    if (unlimited == true) return std::nullopt;
    // No quota at all: a share of nothing would read as fully used.
    if (entitlement && *entitlement <= 0) return std::nullopt;
    std::optional<double> left = percentRemaining;
    if (!left && entitlement && remaining) left = *remaining / *entitlement * 100;
    if (!left) return std::nullopt;
    return LimitWindow{std::move(id), std::move(name), clampedPercent(100 - *left), kMonthMinutes,
                       resetsAt};
}

// The free plan's counters: what is left of each monthly total.
std::optional<LimitWindow> limitedWindow(const Json* remaining, const Json* totals,
                                         std::string_view key, std::string id, std::string name,
                                         std::optional<platform::Date> resetsAt) {
    if (!remaining || !totals) return std::nullopt;
    const auto left = platform::numberMember(*remaining, key);
    const auto total = platform::numberMember(*totals, key);
    if (!left || !total || *total <= 0) return std::nullopt;
    return LimitWindow{std::move(id), std::move(name), clampedPercent(100 - *left / *total * 100),
                       kMonthMinutes, resetsAt};
}

// "individual_pro" → "Individual Pro".
std::string planName(std::string_view plan) {
    std::string words(plan);
    std::replace(words.begin(), words.end(), '_', ' ');
    return platform::capitalisedWords(words);
}

}  // namespace

CopilotClient::CopilotClient(const platform::Environment& environment, const platform::Clock& clock,
                             const platform::HttpClient* http, GithubCliToken githubCliToken)
    : HttpProviderClient(environment, clock, http,
                         platform::resolveOrigin(environment, originVariable, kDefaultOrigin)),
      githubCliToken_(std::move(githubCliToken)) {
    if (!githubCliToken_) {
        githubCliToken_ = [&environment] {
            return CopilotClient::githubCliToken(environment, githubCliLimit);
        };
    }
}

model::ProviderUsage CopilotClient::fetch() const {
    requireUsableOrigin();
    const SignIn signIn = loadSignIn();

    platform::HttpRequest request;
    request.url = origin_.origin + "/copilot_internal/user";
    request.headers = {
        {"Authorization", "token " + signIn.token},
        {"Accept", "application/json"},
        {"X-GitHub-Api-Version", "2025-04-01"},
        // GitHub's API refuses requests without a User-Agent.
        {"User-Agent", std::string("Kestrane/") + KESTRANE_VERSION},
    };
    const auto response = http_.send(request);
    if (!response) throw QuotaError::invalidResponse("GitHub вернул некорректный ответ.");
    switch (response->status) {
        case 200: {
            ProviderUsage usage = parseUsage(response->body, clock_.now());
            if (!usage.email && signIn.user) {
                usage.email = model::sanitizedText(*signIn.user);
                if (usage.email->empty()) usage.email.reset();
            }
            return usage;
        }
        case 401:
            throw QuotaError::unavailable(
                "Вход в GitHub Copilot больше не действителен. Войдите в Copilot снова в "
                "редакторе или выполните `gh auth login`.");
        case 403:
        case 404:
            throw QuotaError::unavailable("У этого аккаунта GitHub нет доступа к Copilot.");
        case 429:
            throw QuotaError::unavailable(
                "GitHub временно ограничил проверку квот Copilot. Повторите позже.");
        default:
            throw QuotaError::invalidResponse("GitHub API: HTTP " +
                                              std::to_string(response->status) + ".");
    }
}

CopilotClient::SignIn CopilotClient::loadSignIn() const {
    const fs::path copilot = copilotConfigDirectory(environment_);
    for (const char* name : {"apps.json", "hosts.json"}) {
        if (const auto data = platform::readFile(copilot / name, kMaxSignInFileBytes)) {
            if (auto signIn = decodeCopilotSignIns(*data)) return std::move(*signIn);
        }
    }
    const fs::path hosts = githubCliConfigDirectory(environment_) / "hosts.yml";
    if (const auto data = platform::readFile(hosts, kMaxSignInFileBytes)) {
        if (auto signIn = decodeGithubCliHosts(*data)) return std::move(*signIn);
    }
    if (auto token = githubCliToken_()) {
        if (isToken(*token)) return SignIn{std::move(*token), std::nullopt};
    }
    throw QuotaError::unavailable(kNotSignedIn);
}

fs::path CopilotClient::copilotConfigDirectory(const platform::Environment& environment) {
    // The plug-ins take XDG_CONFIG_HOME only when it is an absolute path.
    if (const auto configured = environment.value("XDG_CONFIG_HOME")) {
        const fs::path folder(*configured);
        if (folder.is_absolute()) return folder / "github-copilot";
    }
    return environment.homeDirectory() / ".config" / "github-copilot";
}

fs::path CopilotClient::githubCliConfigDirectory(const platform::Environment& environment) {
    if (const auto configured = environment.value(githubCliConfigVariable)) {
        const std::string trimmed = platform::trimmedWhitespace(*configured);
        if (!trimmed.empty()) return trimmed;
    }
    if (const auto configured = environment.value("XDG_CONFIG_HOME")) {
        const std::string trimmed = platform::trimmedWhitespace(*configured);
        if (!trimmed.empty()) return fs::path(trimmed) / "gh";
    }
    return environment.homeDirectory() / ".config" / "gh";
}

std::optional<CopilotClient::SignIn> CopilotClient::decodeCopilotSignIns(std::string_view data) {
    Json root;
    try {
        root = platform::parseJson(data);
    } catch (const platform::DecodingError&) {
        return std::nullopt;
    }
    if (!root.is_object()) return std::nullopt;
    // Another tool's file: entries that are not what they should be are passed over.
    for (const auto& [key, entry] : root.items()) {
        const bool github =
            key == kGithubHost || (key.starts_with(kGithubHost) && key[kGithubHost.size()] == ':');
        if (!github || !entry.is_object()) continue;
        std::optional<std::string> token;
        for (const char* name : {"oauth_token", "access_token"}) {
            const auto it = entry.find(name);
            if (it != entry.end() && it->is_string()) {
                token = platform::trimmedWhitespace(it->get_ref<const std::string&>());
                break;
            }
        }
        if (!token || !isToken(*token)) continue;
        std::optional<std::string> user;
        for (const char* name : {"user", "login"}) {
            const auto it = entry.find(name);
            if (it != entry.end() && it->is_string() &&
                !it->get_ref<const std::string&>().empty()) {
                user = it->get<std::string>();
                break;
            }
        }
        return SignIn{std::move(*token), std::move(user)};
    }
    return std::nullopt;
}

std::optional<CopilotClient::SignIn> CopilotClient::decodeGithubCliHosts(std::string_view data) {
    // Just enough YAML for the CLI's file: a top-level "github.com:" key whose block holds
    // "oauth_token:" and "user:" lines. The least indented of each in the block wins, so a
    // token under `users:` counts only when the host itself names none.
    std::optional<std::string> token, user;
    std::size_t tokenIndent = std::string::npos, userIndent = std::string::npos;
    bool inBlock = false;
    while (!data.empty()) {
        const auto end = data.find('\n');
        std::string_view line = data.substr(0, end);
        data.remove_prefix(end == std::string_view::npos ? data.size() : end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        const std::string trimmed = platform::trimmedWhitespace(line);
        if (trimmed.empty() || trimmed.starts_with('#')) continue;
        const std::size_t indent = indentation(line);
        if (indent == 0) {
            inBlock = trimmed == "github.com:" || trimmed == "\"github.com\":" ||
                      trimmed == "'github.com':";
            continue;
        }
        if (!inBlock) continue;
        const auto colon = trimmed.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = trimmed.substr(0, colon);
        std::string value = withoutQuotes(platform::trimmedWhitespace(trimmed.substr(colon + 1)));
        if (key == "oauth_token" && indent < tokenIndent && isToken(value)) {
            token = std::move(value);
            tokenIndent = indent;
        } else if (key == "user" && indent < userIndent && !value.empty()) {
            user = std::move(value);
            userIndent = indent;
        }
    }
    if (!token) return std::nullopt;
    return SignIn{std::move(*token), std::move(user)};
}

std::optional<std::string> CopilotClient::githubCliToken(const platform::Environment& environment,
                                                         std::chrono::milliseconds limit) {
    const auto executables = githubCliExecutables(environment);
    if (executables.empty()) return std::nullopt;
    platform::CommandOutput result;
    try {
        // A gh that hangs may have started a helper of its own (a credential or keyring
        // program): its whole process group is ended with it.
        result = platform::runCommand(executables.front(),
                                      {"auth", "token", "--hostname", std::string(kGithubHost)},
                                      kMaxCliOutputBytes, limit, platform::ProcessGroup::own);
    } catch (const platform::LaunchError&) {
        return std::nullopt;
    }
    if (result.timedOut) {
        const auto seconds = std::chrono::ceil<std::chrono::seconds>(limit).count();
        throw QuotaError::timeout("GitHub CLI (gh) не ответил за " + std::to_string(seconds) +
                                  " с. Проверьте `gh auth status` в терминале или войдите в "
                                  "Copilot в редакторе.");
    }
    if (result.truncated || !result.exitedSuccessfully()) return std::nullopt;
    return tokenFromCliOutput(result.output);
}

std::optional<std::string> CopilotClient::tokenFromCliOutput(std::string_view output) {
    std::string token = platform::trimmedWhitespace(output);
    if (!isToken(token)) return std::nullopt;
    return token;
}

model::ProviderUsage CopilotClient::parseUsage(std::string_view data, platform::Date now) {
    ProviderUsage usage{.provider = model::ProviderKind::copilot, .updatedAt = now};
    bool hasQuotaInformation = false;
    try {
        const Json root = platform::parseJson(data);
        const Json& answer = platform::requireObject(root);
        usage.email = platform::stringMember(answer, "login");
        const auto plan = platform::stringMember(answer, "copilot_plan");
        const auto sku = platform::stringMember(answer, "access_type_sku");
        const bool freePlan = sku == "free_limited_copilot";
        // Accounts billed by tokens report the free plan's use in the snapshots as well.
        const bool tokenBilling = platform::boolMember(answer, "token_based_billing") == true;
        if (freePlan) {
            usage.plan = "Free";
        } else if (plan && !plan->empty()) {
            usage.plan = planName(*plan);
        }

        // The exact instant when given, else the day (midnight UTC).
        const auto resetUtc = platform::stringMember(answer, "quota_reset_date_utc");
        const auto resetDay = platform::stringMember(answer, "quota_reset_date");
        std::optional<platform::Date> resetsAt;
        if (resetUtc) resetsAt = parseResetDate(*resetUtc);
        if (!resetsAt && resetDay) resetsAt = parseResetDate(*resetDay);

        std::vector<LimitWindow> snapshotWindows;
        if (const Json* snapshots = platform::objectMember(answer, "quota_snapshots")) {
            hasQuotaInformation = true;
            struct Kind {
                const char* key;
                const char* id;
                const char* name;
            };
            static constexpr Kind kKinds[] = {
                {"premium_interactions", "copilot-premium", "Премиум-запросы"},
                {"chat", "copilot-chat", "Чат"},
                {"completions", "copilot-completions", "Автодополнения"},
            };
            for (const Kind& kind : kKinds) {
                if (auto window =
                        snapshotWindow(*snapshots, kind.key, kind.id, kind.name, resetsAt)) {
                    snapshotWindows.push_back(std::move(*window));
                }
            }
        }

        // The free plan counts what is left of each monthly total instead.
        std::vector<LimitWindow> limitedWindows;
        const Json* remaining = platform::objectMember(answer, "limited_user_quotas");
        const Json* totals = platform::objectMember(answer, "monthly_quotas");
        if (remaining && totals) {
            hasQuotaInformation = true;
            std::optional<platform::Date> limitedReset;
            if (const auto it = answer.find("limited_user_reset_date"); it != answer.end()) {
                if (it->is_string()) {
                    limitedReset = parseResetDate(it->get_ref<const std::string&>());
                } else if (it->is_number()) {
                    limitedReset = platform::Date{it->get<double>()};
                } else if (!it->is_null()) {
                    throw platform::DecodingError();
                }
            }
            for (auto window :
                 {limitedWindow(remaining, totals, "chat", "copilot-chat", "Чат", limitedReset),
                  limitedWindow(remaining, totals, "completions", "copilot-completions",
                                "Автодополнения", limitedReset)}) {
                if (window) limitedWindows.push_back(std::move(*window));
            }
        }

        const bool preferLimited = freePlan && !tokenBilling && !limitedWindows.empty();
        usage.windows = preferLimited || snapshotWindows.empty() ? std::move(limitedWindows)
                                                                 : std::move(snapshotWindows);
    } catch (const platform::DecodingError&) {
        throw QuotaError::invalidResponse(kUnreadable);
    }
    // An answer without any quota is not one we understand; one whose quotas are all
    // unlimited simply has no window to show.
    if (!hasQuotaInformation) throw QuotaError::invalidResponse(kUnreadable);
    for (auto& window : usage.windows) {
        if (window.resetsAt && !std::isfinite(window.resetsAt->secondsSince1970)) {
            window.resetsAt.reset();
        }
    }
    if (usage.email && usage.email->empty()) usage.email.reset();
    return model::sanitized(std::move(usage));
}

std::optional<platform::Date> CopilotClient::parseResetDate(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (const auto date = platform::parseInternetDateTime(text)) return date;
    const bool bareDate = text.size() == 10 && text[4] == '-' && text[7] == '-' &&
                          std::all_of(text.begin(), text.end(), [](char c) {
                              return c == '-' || std::isdigit(static_cast<unsigned char>(c));
                          });
    if (!bareDate) return std::nullopt;
    return platform::parseInternetDateTime(std::string(text) + "T00:00:00Z");
}

bool copilotHasSignIn(const platform::Environment& environment) {
    const fs::path folder = CopilotClient::copilotConfigDirectory(environment);
    for (const char* name : {"apps.json", "hosts.json"}) {
        if (const auto data = platform::readFile(folder / name, kMaxSignInFileBytes)) {
            if (CopilotClient::decodeCopilotSignIns(*data)) return true;
        }
    }
    return false;
}

}  // namespace kestrane::providers
