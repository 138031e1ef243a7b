#include "providers/codex/CodexClient.h"

#include <sys/wait.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <set>

#include "model/OutsideText.h"
#include "model/QuotaError.h"
#include "platform/CommandDirectories.h"
#include "platform/Files.h"
#include "platform/RegularExpression.h"
#include "platform/TextConversions.h"
#include "platform/UnicodeText.h"
#include "providers/codex/CodexExecutableLocator.h"
#include "providers/codex/CodexInstallHint.h"
#include "providers/codex/CodexRPC.h"
#include "providers/codex/CodexServerError.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::ProviderUsage;
using model::QuotaError;
using model::RecentModelContext;
using platform::Json;

constexpr std::int64_t kThreadListLimit = 64;
const char* const kNodeMissing =
    "Codex найден, но для запуска ему нужен Node.js, которого нет в PATH.";
// The status a shell or `env` exits with when the command it should run does not exist.
constexpr int kCommandNotFound = 127;
// A child that closed its output is exiting; this is ample time to see how.
constexpr std::chrono::milliseconds kExitGrace{500};
// A script's first line is short; this is enough to see its interpreter.
constexpr std::size_t kShebangBytes = 256;

bool isTimeout(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const QuotaError& quota) {
        return quota.kind() == QuotaError::Kind::timeout;
    } catch (...) {
        return false;
    }
}

// The interpreter line of a script run by Node.js (`#!/usr/bin/env node`, `#!…/node`):
// its first word, the program the system starts.
std::optional<std::string> nodeScriptInterpreter(const std::string& executable) {
    const auto head = platform::readFilePrefix(executable, kShebangBytes);
    if (!head || !head->starts_with("#!")) return std::nullopt;
    const std::string line = head->substr(2, head->find('\n') - 2);
    if (line.find("node") == std::string::npos) return std::nullopt;
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return std::nullopt;
    return line.substr(start, line.find_first_of(" \t", start) - start);
}
constexpr double kRecentWindowSeconds = 86400;
// Session clocks may run a little ahead of ours.
constexpr double kFutureToleranceSeconds = 60;

// The member under `camel`, else under `snake`, when it has the type `accepts` wants.
template <typename Accepts>
const Json* member(const Json& object, std::string_view camel, std::string_view snake,
                   Accepts accepts) {
    if (!object.is_object()) return nullptr;
    for (const std::string_view key : {camel, snake}) {
        if (key.empty()) continue;
        const auto it = object.find(key);
        if (it != object.end() && accepts(*it)) return &*it;
    }
    return nullptr;
}

const Json* objectMember(const Json& object, std::string_view camel, std::string_view snake = {}) {
    return member(object, camel, snake, [](const Json& value) { return value.is_object(); });
}

std::optional<std::string> stringMember(const Json& object, std::string_view camel,
                                        std::string_view snake = {}) {
    const Json* value =
        member(object, camel, snake, [](const Json& value) { return value.is_string(); });
    return value ? std::optional(value->get<std::string>()) : std::nullopt;
}

std::optional<double> doubleMember(const Json& object, std::string_view camel,
                                   std::string_view snake = {}) {
    const Json* value = member(object, camel, snake, [](const Json& value) {
        return CodexClient::lenientDouble(value).has_value();
    });
    return value ? CodexClient::lenientDouble(*value) : std::nullopt;
}

std::optional<std::int64_t> wholeMinutes(std::optional<double> value) {
    // 2^63 is exactly representable; anything from there on does not fit.
    if (!value || !std::isfinite(*value) || std::trunc(*value) != *value ||
        *value < -9223372036854775808.0 || *value >= 9223372036854775808.0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(*value);
}

// Model names are short identifiers; anything else in the field is not shown.
bool isModelName(const std::string& text) {
    static const auto pattern =
        platform::RegularExpression::compile("^[a-zA-Z0-9][a-zA-Z0-9._:/-]{0,99}$");
    // The whole text must match: with a plain search, "$" would also accept a name that ends
    // in a line feed, and that line feed would then reach the probe output and the panel.
    return pattern && pattern->matchesWhole(text);
}

// "account/read" of a server nobody has signed in to: no account, though one is required.
bool isSignedOut(const Json& accountResult) {
    if (!accountResult.is_object()) return false;
    const auto account = accountResult.find("account");
    const auto required = accountResult.find("requiresOpenaiAuth");
    return (account == accountResult.end() || account->is_null()) &&
           required != accountResult.end() && required->is_boolean() && required->get<bool>();
}

Json threadListParameters() {
    return Json{
        {"limit", kThreadListLimit},
        {"sortKey", "updated_at"},
        {"sortDirection", "desc"},
        {"useStateDbOnly", true},
        {"modelProviders", Json::array({"openai"})},
        {"sourceKinds",
         Json::array({"cli", "vscode", "exec", "appServer", "subAgent", "subAgentReview",
                      "subAgentCompact", "subAgentThreadSpawn", "subAgentOther", "unknown"})},
    };
}

}  // namespace

CodexClient::CodexClient(const platform::Environment& environment, const platform::Clock& clock,
                         Limits limits)
    : environment_(environment), clock_(clock), limits_(limits) {}

std::filesystem::path CodexClient::authFile(const platform::Environment& environment) {
    if (const auto home = environment.value("CODEX_HOME")) {
        const std::string trimmed = platform::trimmedWhitespace(*home);
        if (!trimmed.empty()) return std::filesystem::path(trimmed) / "auth.json";
    }
    return environment.homeDirectory() / ".codex" / "auth.json";
}

bool CodexClient::hasStoredSignIn(const platform::Environment& environment) {
    std::error_code error;
    return std::filesystem::is_regular_file(authFile(environment), error);
}

ProviderUsage CodexClient::fetch() const {
    // Application bundles exist only on macOS; on Linux the system workspace lists none.
    const auto applications =
        CodexExecutableLocator::installedApplications(platform::systemWorkspace());
    const auto executables = CodexExecutableLocator::executables(
        environment_, applications, environment_.homeDirectory(), {"/Applications"},
        platform::packageCommandDirectories(environment_));
    return fetchSynchronously(executables);
}

ProviderUsage CodexClient::fetchSynchronously(const std::vector<std::string>& executables) const {
    const std::unique_ptr<CodexRPC> rpc = connect(executables);
    try {
        const Json account = rpc->request(2, "account/read", Json::object(), limits_.accountRead);
        Json limits;
        try {
            limits =
                rpc->request(3, "account/rateLimits/read", Json::object(), limits_.rateLimitsRead);
        } catch (const QuotaError&) {
            // Signed out, the limits cannot be read whatever words the server refuses them
            // with, and those words differ between its versions. Words we know say more: a
            // login the server has just given up on also reads as signed out.
            const auto& refusal = rpc->lastRefusal();
            if (refusal && !knownCodexServerError(*refusal) && isSignedOut(account)) {
                throw codexSignedOutError();
            }
            throw;
        }
        ProviderUsage result = usage(account, limits, clock_.now());

        Json threads = Json::object();
        try {
            threads = rpc->request(4, "thread/list", threadListParameters(), limits_.threadList);
        } catch (const std::exception&) {
            // Recent models are optional: an old server, a slow one or a broken answer
            // leaves them empty without failing the quota.
        }
        result.recentModels = recentModels(threads, clock_.now());
        rpc->stop();
        return result;
    } catch (...) {
        rpc->stop();
        throw;
    }
}

std::unique_ptr<CodexRPC> CodexClient::connect(const std::vector<std::string>& executables) const {
    if (executables.empty()) throw QuotaError::unavailable(codexNotFoundMessage());
    std::exception_ptr pending =
        std::make_exception_ptr(QuotaError::unavailable("Не удалось подключиться к Codex."));
    const auto directory = temporaryDirectory();
    for (const auto& executable : executables) {
        std::unique_ptr<CodexRPC> rpc;
        try {
            rpc = std::make_unique<CodexRPC>(executable, directory, childSearchPath(executable));
        } catch (...) {
            // A launcher that names node itself (`#!/path/to/node`) fails to start at all.
            const auto interpreter = nodeScriptInterpreter(executable);
            std::error_code ignored;
            pending = interpreter && !std::filesystem::exists(*interpreter, ignored)
                          ? std::make_exception_ptr(QuotaError::unavailable(kNodeMissing))
                          : std::current_exception();
            continue;
        }
        try {
            rpc->request(1, "initialize",
                         Json{{"clientInfo", {{"name", "Kestrane"}, {"version", "1.1"}}}},
                         limits_.initialize);
            rpc->write(Json{{"method", "initialized"}, {"params", Json::object()}});
            return rpc;
        } catch (...) {
            pending = std::current_exception();
            // "command not found" from the launcher's `env`: a Node.js script without node.
            // Only a child that closed the connection is exiting; a silent one is not waited for.
            const auto status = isTimeout(pending) ? std::nullopt : rpc->exitStatus(kExitGrace);
            if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == kCommandNotFound &&
                nodeScriptInterpreter(executable)) {
                pending = std::make_exception_ptr(QuotaError::unavailable(kNodeMissing));
            }
            rpc->stop();
        }
    }
    std::rethrow_exception(pending);
}

std::filesystem::path CodexClient::temporaryDirectory() const {
    // A TMPDIR that names no folder would make every start fail; /tmp always exists.
    const auto value = environment_.value("TMPDIR");
    std::error_code error;
    if (value && !value->empty() && std::filesystem::is_directory(*value, error)) return *value;
    return "/tmp";
}

std::string CodexClient::childSearchPath(const std::string& executable) const {
    // The npm launcher runs `env node`; nvm and npm put node beside codex, and a desktop
    // session's PATH often lacks that folder.
    const std::string folder = std::filesystem::path(executable).parent_path().string();
    const std::string inherited = environment_.value("PATH").value_or("");
    return inherited.empty() ? folder : folder + ":" + inherited;
}

ProviderUsage CodexClient::usage(const Json& accountResult, const Json& limitsResult,
                                 platform::Date now) {
    const Json* account = objectMember(accountResult, "account");
    const auto email = account ? stringMember(*account, "email") : std::nullopt;
    auto planText = account ? stringMember(*account, "planType", "plan_type") : std::nullopt;

    const Json* rateLimits = objectMember(limitsResult, "rateLimits", "rate_limits");
    const Json* byIdMember =
        objectMember(limitsResult, "rateLimitsByLimitId", "rate_limits_by_limit_id");
    const Json byId = byIdMember ? *byIdMember : Json::object();

    // The by-id map is ordered by key, so "first" below is the smallest key.
    std::string primaryKey = "codex";
    if (!objectMember(byId, "codex")) {
        if (rateLimits) {
            primaryKey = stringMember(*rateLimits, "limitId", "limit_id").value_or("codex");
        } else {
            for (const auto& [key, value] : byId.items()) {
                if (value.is_object()) {
                    primaryKey = key;
                    break;
                }
            }
        }
    }

    const Json* primary = objectMember(byId, primaryKey);
    if (!primary) primary = rateLimits;
    if (!primary) throw QuotaError::invalidResponse("Codex не вернул данные о лимитах.");

    std::vector<LimitWindow> all = windows(*primary, "Codex");
    const std::string primaryLimitId =
        stringMember(*primary, "limitId", "limit_id").value_or(primaryKey);
    for (const auto& [key, value] : byId.items()) {
        if (!value.is_object()) continue;
        const std::string limitId = stringMember(value, "limitId", "limit_id").value_or(key);
        if (key == primaryKey || limitId == primaryLimitId) continue;
        const auto extra = windows(
            value, stringMember(value, "limitName", "limit_name").value_or("Дополнительный лимит"));
        all.insert(all.end(), extra.begin(), extra.end());
    }
    if (all.empty()) throw QuotaError::invalidResponse("Codex не вернул доступные окна лимитов.");

    if (!planText) planText = stringMember(*primary, "planType", "plan_type");
    std::optional<double> balance;
    if (const Json* credits = objectMember(*primary, "credits")) {
        balance = doubleMember(*credits, "balance");
        // A balance too large for a double is no amount worth showing.
        if (balance && !std::isfinite(*balance)) balance.reset();
    }

    ProviderUsage result;
    result.provider = model::ProviderKind::codex;
    result.email = email;
    if (planText) result.plan = prettyPlan(*planText);
    result.windows = deduplicate(std::move(all));
    result.spendLimit = balance;
    if (balance) result.currency = "кредиты";
    result.updatedAt = now;
    return model::sanitized(std::move(result));
}

std::vector<LimitWindow> CodexClient::windows(const Json& bucket, const std::string& fallbackName) {
    struct Slot {
        std::string_view key;
        std::string_view suffix;
    };
    static constexpr Slot kSlots[] = {{"primary", ""}, {"secondary", "доп."}};

    std::vector<LimitWindow> result;
    for (const Slot& slot : kSlots) {
        const Json* window = objectMember(bucket, slot.key);
        if (!window) continue;
        const auto used = doubleMember(*window, "usedPercent", "used_percent");
        if (!used || !std::isfinite(*used)) continue;
        const auto minutes =
            wholeMinutes(doubleMember(*window, "windowDurationMins", "window_duration_mins"));
        std::optional<platform::Date> resetsAt;
        if (const auto seconds = doubleMember(*window, "resetsAt", "resets_at");
            seconds && std::isfinite(*seconds)) {
            resetsAt = platform::Date{*seconds};
        }

        LimitWindow limit;
        limit.id =
            fallbackName + "-" + std::string(slot.key) + "-" + std::to_string(minutes.value_or(0));
        limit.name =
            slot.suffix.empty() ? fallbackName : fallbackName + " " + std::string(slot.suffix);
        limit.usedPercent = std::clamp(*used, 0.0, 100.0);
        limit.durationMinutes = minutes;
        limit.resetsAt = resetsAt;
        result.push_back(std::move(limit));
    }
    return result;
}

std::vector<LimitWindow> CodexClient::deduplicate(std::vector<LimitWindow> windows) {
    std::set<std::string> seen;
    std::vector<LimitWindow> result;
    for (auto& window : windows) {
        if (seen.insert(window.id).second) result.push_back(std::move(window));
    }
    return result;
}

std::string CodexClient::prettyPlan(std::string_view raw) {
    const std::string plan = platform::lowercased(raw);
    if (plan == "prolite" || plan == "pro") return "Pro";
    if (plan == "plus") return "Plus";
    if (plan == "team") return "Team";
    return platform::capitalisedWords(raw);
}

std::optional<double> CodexClient::lenientDouble(const Json& value) {
    if (value.is_number()) return value.get<double>();
    if (!value.is_string()) return std::nullopt;
    return platform::parseDecimalNumber(value.get_ref<const std::string&>());
}

std::vector<RecentModelContext> CodexClient::recentModels(const Json& result, platform::Date now) {
    const Json* threads = result.is_object() && result.contains("data") && result["data"].is_array()
                              ? &result["data"]
                              : nullptr;
    if (!threads) return {};

    struct Seen {
        std::int64_t count = 0;
        platform::Date latest{-std::numeric_limits<double>::infinity()};
    };
    std::set<std::string> threadIds;
    std::map<std::string, Seen> models;
    for (const Json& thread : *threads) {
        if (!thread.is_object()) continue;
        const auto id = stringMember(thread, "id");
        if (!id || !threadIds.insert(*id).second) continue;
        const auto model = stringMember(thread, "model");
        if (!model || !isModelName(*model)) continue;
        const auto updated = doubleMember(thread, "updatedAt");
        if (!updated || !std::isfinite(*updated)) continue;
        const platform::Date date{*updated};
        if (date < now - kRecentWindowSeconds || date > now + kFutureToleranceSeconds) continue;
        Seen& seen = models[*model];
        seen.count += 1;
        seen.latest = std::max(seen.latest, date);
    }

    std::vector<RecentModelContext> contexts;
    contexts.reserve(models.size());
    for (const auto& [model, seen] : models) {
        contexts.push_back(RecentModelContext{model, seen.count, seen.latest});
    }
    std::stable_sort(contexts.begin(), contexts.end(), [](const auto& a, const auto& b) {
        if (a.lastSeenAt != b.lastSeenAt) return a.lastSeenAt > b.lastSeenAt;
        return a.model < b.model;
    });
    return contexts;
}

}  // namespace kestrane::providers
