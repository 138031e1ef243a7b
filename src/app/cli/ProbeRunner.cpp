#include "app/cli/ProbeRunner.h"

#include <algorithm>
#include <cctype>

namespace kestrane::app::ProbeRunner {
namespace {

using model::FetchResult;
using model::ProviderKind;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
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

std::vector<ProviderKind> requestedProviders(const std::vector<std::string>& arguments) {
    const auto probe = std::find(arguments.begin(), arguments.end(), "--probe");
    std::vector<ProviderKind> requested;
    if (probe != arguments.end()) {
        for (auto it = std::next(probe); it != arguments.end(); ++it) {
            for (const ProviderKind kind : model::allProviderKinds) {
                if (equalsIgnoringCase(*it, model::rawValue(kind))) {
                    requested.push_back(kind);
                    break;
                }
            }
        }
    }
    if (requested.empty())
        requested.assign(model::allProviderKinds.begin(), model::allProviderKinds.end());
    return requested;
}

int run(const std::vector<std::string>& arguments, const Fetch& fetch, std::ostream& out,
        const FetchDeadline& deadline) {
    bool anyFailure = false;
    for (const FetchResult& result : providers::fetchConcurrently(fetch, requestedProviders(arguments), deadline)) {
        anyFailure = anyFailure || !result.isSuccess();
        printResult(result, out);
    }
    return anyFailure ? 1 : 0;
}

}  // namespace kestrane::app::ProbeRunner
