#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/cli/ProbeRunner.h"
#include "model/FetchResult.h"
#include "providers/ConcurrentFetch.h"

namespace kestrane::app::ProbeJson {

using providers::Fetch;
using providers::FetchDeadline;
using providers::providerFetchDeadline;

// The probe's results as one JSON document (docs/json.md), in the order given.
std::string document(const std::vector<model::FetchResult>& results);

// The probe with JSON output: the same providers, fetch and exit status as the text form.
int run(const std::vector<std::string>& arguments, const Fetch& fetch, std::ostream& out,
        const FetchDeadline& deadline = providerFetchDeadline,
        const ProbeRunner::ProbedByDefault& probedByDefault = {});

}  // namespace kestrane::app::ProbeJson
