#include "platform/Keychain.h"

namespace kestrane::platform {
namespace {

// The provider tools keep their sessions in files on Linux, not in a secret service.
class NoKeychain final : public Keychain {
  public:
    Lookup genericPassword(std::string_view) const override { return {}; }
};

}  // namespace

const Keychain& systemKeychain() {
    static const NoKeychain keychain;
    return keychain;
}

}  // namespace kestrane::platform
