#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "model/FetchResult.h"
#include "model/ProviderKind.h"

namespace kestrane::app::ProbeRunner {

using Fetch = std::function<model::FetchResult(model::ProviderKind)>;

// The providers named after the first "--probe" (case-insensitive, repeats kept, unknown
// words skipped); all five in canonical order when none is named.
std::vector<model::ProviderKind> requestedProviders(const std::vector<std::string>& arguments);

// Fetches the requested providers concurrently, prints one line per provider in the
// requested order and returns 1 if any line is a failure, else 0.
int run(const std::vector<std::string>& arguments, const Fetch& fetch, std::ostream& out);

}  // namespace kestrane::app::ProbeRunner
