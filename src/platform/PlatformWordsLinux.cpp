#include "platform/PlatformWords.h"

namespace kestrane::platform {

std::string localServicesSubtitle() { return "Процессы на этом компьютере"; }

}  // namespace kestrane::platform
