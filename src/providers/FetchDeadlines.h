#pragma once

#include <chrono>

#include "model/ProviderKind.h"

namespace kestrane::providers {

// The time given to the rest of a fetch besides its longest wait: reading files, starting a
// child, a second request.
inline constexpr std::chrono::seconds fetchDeadlineMargin{10};

// How long a refresh waits for one provider before it shows a time-out instead. A blocking
// fetch cannot be cancelled, and one stuck provider (a stalled server, a file that never
// ends) must not hold back the figures of the others. Each is the longest single time limit
// its client declares plus the margin; a fetch that takes longer has stopped making progress.
std::chrono::milliseconds providerFetchDeadline(model::ProviderKind kind);

}  // namespace kestrane::providers
