#include "platform/Clock.h"

#include <chrono>

namespace kestrane::platform {

Date SystemClock::now() const {
    using namespace std::chrono;
    const auto since = system_clock::now().time_since_epoch();
    return Date{duration_cast<duration<double>>(since).count()};
}

}  // namespace kestrane::platform
