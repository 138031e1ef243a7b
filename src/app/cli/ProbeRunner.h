#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "providers/ConcurrentFetch.h"
#include "model/ProviderKind.h"

namespace kestrane::app::ProbeRunner {

using providers::Fetch;
using providers::FetchDeadline;
using providers::providerFetchDeadline;

// The providers named after the first "--probe" (case-insensitive, repeats kept, unknown
// words skipped); all five in canonical order when none is named.
std::vector<model::ProviderKind> requestedProviders(const std::vector<std::string>& arguments);

// Fetches the requested providers concurrently, prints one line per provider in the
// requested order and returns 1 if any line is a failure, else 0. A provider that has not
// answered by its deadline is a failure; its worker may still be running on return.
int run(const std::vector<std::string>& arguments, const Fetch& fetch, std::ostream& out,
        const FetchDeadline& deadline = providerFetchDeadline);

}  // namespace kestrane::app::ProbeRunner
