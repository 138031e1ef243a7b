#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace kestrane::platform {

// The desktop's keeper of secrets, for the API keys a user types into the settings: the
// freedesktop Secret Service on Linux (GNOME Keyring, KWallet, KeePassXC), never a file of
// ours. Each item is Kestrane's own, found by its attributes application=kestrane and
// provider=<word> ("zai"). Blocking, and safe on any thread: call it off the interface thread.
class SecretStore {
  public:
    enum class Status {
        // Done; a lookup's secret is in `Lookup::secret`.
        ok,
        // Nothing stored under that word.
        notFound,
        // The keyring is locked. A lookup never unlocks it (that would put the keyring's
        // password prompt up at every refresh): the caller says it could not read the key.
        locked,
        // No Secret Service on this session: no session bus, or nothing there owns the
        // service's name. Nothing is started to provide one.
        unavailable,
        // The service answered with an error, or not within callLimit.
        failed,
    };
    struct Lookup {
        Status status = Status::notFound;
        std::string secret;
    };

    // Each call to the service gets this long. A lookup makes at most callsPerLookup of them
    // (is the service there, does it answer, a session, the search, the secret), so it waits
    // at most lookupLimit for a service that stalls.
    static constexpr std::chrono::seconds callLimit{5};
    static constexpr int callsPerLookup = 5;
    static constexpr std::chrono::seconds lookupLimit = callLimit * callsPerLookup;

    virtual ~SecretStore() = default;

    // The secret stored for `provider`, read without ever unlocking anything.
    virtual Lookup lookup(std::string_view provider) const = 0;
    // Stores `secret` for `provider` under `label` (what the keyring's own window shows),
    // replacing what was there, in the default keyring. A locked keyring is unlocked the way
    // the desktop does it, with its own prompt, which this waits for: the user asked to store.
    virtual Status store(std::string_view provider, std::string_view label,
                         std::string_view secret) const = 0;
    // Removes what is stored for `provider`; ok also when there was nothing.
    virtual Status remove(std::string_view provider) const = 0;
};

// This system's store: the Secret Service through libsecret on Linux.
const SecretStore& systemSecretStore();

}  // namespace kestrane::platform
