#include "app/cli/ProbeRunner.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace kestrane::app::ProbeRunner {
namespace {

using model::FetchResult;
using model::ProviderKind;

std::string amount(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

void printResult(const FetchResult& result, std::ostream& out) {
    if (!result.isSuccess()) {
        const auto& failure = result.failureValue();
        out << model::rawValue(failure.provider) << " ERROR: " << failure.message << '\n';
        return;
    }
    const auto& usage = result.usage();
    out << model::rawValue(usage.provider) << " OK: ";
    for (std::size_t i = 0; i < usage.windows.size(); ++i) {
        const auto& window = usage.windows[i];
        if (i > 0) out << ", ";
        out << window.periodTitle() << '=' << model::roundedPercent(window.usedPercent) << '%';
    }
    // Credits without a window of their own (a key without a resetting limit): the spending,
    // so that the line says what was fetched.
    if (usage.windows.empty() && (usage.spendUsed || usage.spendLimit)) {
        out << "Потрачено " << amount(usage.spendUsed.value_or(0));
        if (usage.spendLimit) out << " из " << amount(*usage.spendLimit);
        if (usage.currency) out << ' ' << *usage.currency;
    }
    out << '\n';
    if (!usage.recentModels.empty()) {
        out << "Recent configured models: ";
        for (std::size_t i = 0; i < usage.recentModels.size(); ++i) {
            if (i > 0) out << ", ";
            out << usage.recentModels[i].model;
        }
        out << '\n';
    }
}

}  // namespace

bool alwaysProbed(ProviderKind kind) {
    switch (kind) {
        case ProviderKind::codex:
        case ProviderKind::cursor:
        case ProviderKind::claude:
        case ProviderKind::kimi:
        case ProviderKind::antigravity:
            return true;
        default:
            return false;
    }
}

std::vector<ProviderKind> requestedProviders(const std::vector<std::string>& arguments,
                                             const ProbedByDefault& probedByDefault) {
    const auto probe = std::find(arguments.begin(), arguments.end(), "--probe");
    std::vector<ProviderKind> requested;
    if (probe != arguments.end()) {
        for (auto it = std::next(probe); it != arguments.end(); ++it) {
            if (const auto kind = model::providerKindFromCommandWord(*it)) {
                requested.push_back(*kind);
            }
        }
    }
    if (requested.empty()) {
        for (const ProviderKind kind : model::allProviderKinds) {
            if (alwaysProbed(kind) || (probedByDefault && probedByDefault(kind))) {
                requested.push_back(kind);
            }
        }
    }
    return requested;
}

int run(const std::vector<std::string>& arguments, const Fetch& fetch, std::ostream& out,
        const FetchDeadline& deadline, const ProbedByDefault& probedByDefault) {
    bool anyFailure = false;
    for (const FetchResult& result : providers::fetchConcurrently(
             fetch, providers::defaultAccounts(requestedProviders(arguments, probedByDefault)),
             deadline)) {
        anyFailure = anyFailure || !result.isSuccess();
        printResult(result, out);
    }
    return anyFailure ? 1 : 0;
}

}  // namespace kestrane::app::ProbeRunner
