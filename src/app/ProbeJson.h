#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/ConcurrentFetch.h"
#include "model/FetchResult.h"

namespace kestrane::app::ProbeJson {

// The probe's results as one JSON document (docs/json.md), in the order given.
std::string document(const std::vector<model::FetchResult>& results);

// The probe with JSON output: the same providers, fetch and exit status as the text form.
int run(const std::vector<std::string>& arguments, const Fetch& fetch, std::ostream& out,
        const FetchDeadline& deadline = providerFetchDeadline);

}  // namespace kestrane::app::ProbeJson
