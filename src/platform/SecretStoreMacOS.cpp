#include "platform/SecretStore.h"

namespace kestrane::platform {
namespace {

// The macOS port keeps these keys in the login keychain (SecItemCopyMatching with
// kSecUseAuthenticationUISkip for reads, SecItemAdd and SecItemDelete); until then the
// settings offer only the environment variables.
class NoSecretStore final : public SecretStore {
  public:
    Lookup lookup(std::string_view) const override { return {Status::unavailable, {}}; }
    Status store(std::string_view, std::string_view, std::string_view) const override {
        return Status::unavailable;
    }
    Status remove(std::string_view) const override { return Status::unavailable; }
};

}  // namespace

const SecretStore& systemSecretStore() {
    static const NoSecretStore store;
    return store;
}

}  // namespace kestrane::platform
