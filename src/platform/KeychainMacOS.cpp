#include "platform/Keychain.h"

namespace kestrane::platform {

// The macOS port reads the item here with the Security framework (SecItemCopyMatching with
// kSecUseAuthenticationUISkip, so a locked item reads as not found instead of asking).
KeychainItem keychainGenericPassword(std::string_view) { return {}; }

}  // namespace kestrane::platform
