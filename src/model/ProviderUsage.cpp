#include "model/ProviderUsage.h"

#include <algorithm>
#include <cmath>

namespace kestrane::model {

long long roundedPercent(double percent) {
    if (std::isnan(percent)) return 0;
    // Keeps the conversion defined for absurd values; no real share comes near the bound.
    const double bounded = std::clamp(percent, -1e15, 1e15);
    return static_cast<long long>(std::round(bounded));
}

}  // namespace kestrane::model
