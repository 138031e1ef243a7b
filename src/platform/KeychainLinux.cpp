#include "platform/Keychain.h"

namespace kestrane::platform {

// The provider tools keep their sessions in files on Linux, not in a secret service.
KeychainItem keychainGenericPassword(std::string_view) { return {}; }

}  // namespace kestrane::platform
