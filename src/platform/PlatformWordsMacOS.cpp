#include "platform/PlatformWords.h"

namespace kestrane::platform {

std::string localServicesSubtitle() { return "Процессы на этом Mac"; }

}  // namespace kestrane::platform
