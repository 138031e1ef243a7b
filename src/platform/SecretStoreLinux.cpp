#include "platform/SecretStore.h"

#include <gio/gio.h>
#include <libsecret/secret.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/Environment.h"

namespace kestrane::platform {
namespace {

constexpr const char* kSecretsName = "org.freedesktop.secrets";
constexpr const char* kSecretsPath = "/org/freedesktop/secrets";
constexpr int kCallMilliseconds =
    static_cast<int>(std::chrono::milliseconds(SecretStore::callLimit).count());

// Kestrane's items: its own schema, so no other program's items ever match.
const SecretSchema* schema() {
    static const SecretSchema kSchema = {
        "io.github.kestrane.Kestrane.ApiKey",
        SECRET_SCHEMA_NONE,
        {
            {"application", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"provider", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
    };
    return &kSchema;
}

// GLib's objects and values, each given back on every way out.
struct GLibFree {
    void operator()(GError* error) const { g_error_free(error); }
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
    void operator()(SecretValue* value) const { secret_value_unref(value); }
    void operator()(GObject* object) const { g_object_unref(object); }
    void operator()(GList* items) const { g_list_free_full(items, g_object_unref); }
};
template <typename T>
using Owned = std::unique_ptr<T, GLibFree>;

// A GError out-parameter that frees what it receives.
class ErrorSlot {
  public:
    ErrorSlot() = default;
    ErrorSlot(const ErrorSlot&) = delete;
    ErrorSlot& operator=(const ErrorSlot&) = delete;
    ~ErrorSlot() {
        if (error_) g_error_free(error_);
    }
    GError** out() { return &error_; }
    const GError* get() const { return error_; }

  private:
    GError* error_ = nullptr;
};

SecretStore::Status statusOf(const GError* error) {
    if (!error) return SecretStore::Status::failed;
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) {
        return SecretStore::Status::locked;
    }
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_DISCONNECTED) ||
        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED)) {
        return SecretStore::Status::unavailable;
    }
    return SecretStore::Status::failed;
}

// Whether this session names a bus at all. GLib would otherwise try to start one through
// dbus-launch, and a program without a desktop session must not leave one behind.
bool sessionBusNamed(const Environment& environment) {
    if (const auto address = environment.value("DBUS_SESSION_BUS_ADDRESS")) {
        if (!address->empty()) return true;
    }
    const auto runtime = environment.value("XDG_RUNTIME_DIR");
    if (!runtime || runtime->empty()) return false;
    struct stat info {};
    const std::string socket = *runtime + "/bus";
    return ::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// Whether a Secret Service answers on the session bus. One that is not running is not
// started: the store then says it is unavailable.
SecretStore::Status reachService(const Environment& environment) {
    if (!sessionBusNamed(environment)) return SecretStore::Status::unavailable;
    ErrorSlot error;
    const Owned<GObject> bus{G_OBJECT(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error.out()))};
    if (!bus) return SecretStore::Status::unavailable;
    GDBusConnection* connection = G_DBUS_CONNECTION(bus.get());
    // GLib ends a program whose shared bus connection closes; a keyring call must not.
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    const Owned<GVariant> owned{g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", kSecretsName), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, kCallMilliseconds, nullptr, error.out())};
    if (!owned) return statusOf(error.get());
    gboolean hasOwner = FALSE;
    g_variant_get(owned.get(), "(b)", &hasOwner);
    if (!hasOwner) return SecretStore::Status::unavailable;
    // A service that is there but hung would hold each call below for the bus's own 25
    // seconds; one that answers a ping within the limit answers the rest.
    const Owned<GVariant> pong{g_dbus_connection_call_sync(
        connection, kSecretsName, kSecretsPath, "org.freedesktop.DBus.Peer", "Ping", nullptr,
        nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallMilliseconds, nullptr, error.out())};
    if (!pong) return statusOf(error.get());
    return SecretStore::Status::ok;
}

// The service with a session open for secrets; each further call is limited to callLimit.
SecretStore::Status openService(const Environment& environment, Owned<GObject>& service) {
    if (const auto reached = reachService(environment); reached != SecretStore::Status::ok) {
        return reached;
    }
    ErrorSlot error;
    service.reset(G_OBJECT(secret_service_open_sync(
        SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION, nullptr, error.out())));
    if (!service) return statusOf(error.get());
    g_dbus_proxy_set_default_timeout(G_DBUS_PROXY(service.get()), kCallMilliseconds);
    return SecretStore::Status::ok;
}

Owned<GHashTable> attributesOf(std::string_view provider) {
    const std::string word(provider);
    return Owned<GHashTable>{secret_attributes_build(schema(), "application", "kestrane",
                                                     "provider", word.c_str(), nullptr)};
}

class LibsecretStore final : public SecretStore {
  public:
    Lookup lookup(std::string_view provider) const override {
        Owned<GObject> service;
        if (const auto opened = openService(environment_, service); opened != Status::ok) {
            return {opened, {}};
        }
        const auto attributes = attributesOf(provider);
        ErrorSlot error;
        // Without SECRET_SEARCH_UNLOCK: a locked item stays locked and comes without its
        // secret.
        const Owned<GList> found{
            secret_service_search_sync(SECRET_SERVICE(service.get()), schema(), attributes.get(),
                                       SECRET_SEARCH_LOAD_SECRETS, nullptr, error.out())};
        if (error.get()) return {statusOf(error.get()), {}};
        if (!found) return {Status::notFound, {}};
        auto* item = SECRET_ITEM(found->data);
        if (secret_item_get_locked(item)) return {Status::locked, {}};
        const Owned<SecretValue> value{secret_item_get_secret(item)};
        if (!value) return {Status::failed, {}};
        gsize length = 0;
        const gchar* bytes = secret_value_get(value.get(), &length);
        return {Status::ok, std::string(bytes, length)};
    }

    Status store(std::string_view provider, std::string_view label,
                 std::string_view secret) const override {
        Owned<GObject> service;
        if (const auto opened = openService(environment_, service); opened != Status::ok) {
            return opened;
        }
        const auto attributes = attributesOf(provider);
        const Owned<SecretValue> value{
            secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain")};
        const std::string title(label);
        ErrorSlot error;
        if (!secret_service_store_sync(SECRET_SERVICE(service.get()), schema(), attributes.get(),
                                       SECRET_COLLECTION_DEFAULT, title.c_str(), value.get(),
                                       nullptr, error.out())) {
            // Without an error the user dismissed the keyring's unlock prompt.
            return error.get() ? statusOf(error.get()) : Status::locked;
        }
        return Status::ok;
    }

    Status remove(std::string_view provider) const override {
        Owned<GObject> service;
        if (const auto opened = openService(environment_, service); opened != Status::ok) {
            return opened;
        }
        const auto attributes = attributesOf(provider);
        ErrorSlot error;
        // False without an error: there was nothing to remove.
        if (!secret_service_clear_sync(SECRET_SERVICE(service.get()), schema(), attributes.get(),
                                       nullptr, error.out()) &&
            error.get()) {
            return statusOf(error.get());
        }
        return Status::ok;
    }

  private:
    ProcessEnvironment environment_;
};

}  // namespace

const SecretStore& systemSecretStore() {
    static const LibsecretStore store;
    return store;
}

}  // namespace kestrane::platform
