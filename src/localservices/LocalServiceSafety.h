#pragma once

#include "localservices/LocalService.h"

namespace kestrane::localservices {

// The checks that keep a stop from hitting the wrong process.
namespace LocalServiceSafety {

// Whether `current` (looked up just now) is the very process the user saw as `expected`:
// same pid, owner, start time and name, and, if it listened, still on one of those ports.
// A row without a start time can never be confirmed.
bool representsSameProcess(const LocalService& expected, const LocalService& current);

}  // namespace LocalServiceSafety

}  // namespace kestrane::localservices
