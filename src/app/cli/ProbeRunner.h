#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "model/ProviderKind.h"
#include "providers/ConcurrentFetch.h"

namespace kestrane::app::ProbeRunner {

using providers::Fetch;
using providers::FetchDeadline;
using providers::providerFetchDeadline;

// Whether a provider is asked when none is named; GitHub Copilot, Gemini CLI, z.ai, MiniMax
// and OpenRouter only when the machine has their sign-in or key, so a user of none of them sees
// no new failing line. Empty: the first five providers only.
using ProbedByDefault = std::function<bool(model::ProviderKind)>;

// The first five providers, always asked when none is named; the later ones only as
// `probedByDefault` says.
bool alwaysProbed(model::ProviderKind kind);

// The providers named after the first "--probe" (command name or raw value, any case, repeats
// kept, unknown words skipped); when none is named, the providers asked by default, in
// canonical order.
std::vector<model::ProviderKind> requestedProviders(const std::vector<std::string>& arguments,
                                                    const ProbedByDefault& probedByDefault = {});

// Fetches the requested providers concurrently, prints one line per provider in the
// requested order and returns 1 if any line is a failure, else 0. A provider that has not
// answered by its deadline is a failure; its worker may still be running on return.
int run(const std::vector<std::string>& arguments, const Fetch& fetch, std::ostream& out,
        const FetchDeadline& deadline = providerFetchDeadline,
        const ProbedByDefault& probedByDefault = {});

}  // namespace kestrane::app::ProbeRunner
