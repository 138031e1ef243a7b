#include "app/cli/ProbeRunner.h"

#include <algorithm>

namespace kestrane::app::ProbeRunner {
namespace {

using model::FetchResult;
using model::ProviderKind;

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
    return kind != ProviderKind::copilot && kind != ProviderKind::gemini;
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
