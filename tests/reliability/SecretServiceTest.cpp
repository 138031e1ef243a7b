// The keyring for real: GNOME Keyring's Secret Service, started unlocked on a private session
// bus. A key stored through platform::SecretStore is read back by a fresh `kestrane --probe`,
// sent to its provider only, and written to no file of the user's home; a locked keyring is
// never unlocked for a read; without a Secret Service the store says it is unavailable.
// Skipped where dbus-daemon or gnome-keyring-daemon is not installed.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <mutex>
#include <optional>

#include "platform/Files.h"
#include "platform/SecretStore.h"
#include "support/FakeHttpServer.h"
#include "support/Fixtures.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using Status = platform::SecretStore::Status;

constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";
constexpr const char* kDbusSend = "/usr/bin/dbus-send";
constexpr const char* kKeyringDaemon = "/usr/bin/gnome-keyring-daemon";
// Distinctive, so that finding it anywhere cannot be a coincidence.
constexpr const char* kKey = "FAKEzaiKeyInTheKeyring.9Hd3Lw";

// A session bus of its own: no service files, so that nothing is started on demand. The
// address on the command line replaces the one listed here.
constexpr const char* kBusConfiguration = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// Waits (a bounded number of short polls) for `ready` to hold: the daemons take a moment to
// come up, and how long is theirs to decide.
bool eventually(const std::function<bool()>& ready) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (ready()) return true;
        ::poll(nullptr, 0, 10);
    }
    return false;
}

bool isSocket(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

class SecretServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* program : {kDbusDaemon, kDbusSend, kKeyringDaemon}) {
            if (::access(program, X_OK) != 0) GTEST_SKIP() << program << " is not installed";
        }
        fs::create_directories(runtime());
        fs::permissions(runtime(), fs::perms::owner_all);
        const auto configuration = scratch.write("bus.conf", kBusConfiguration);
        address = "unix:path=" + (runtime() / "bus").string();
        bus.emplace(kDbusDaemon,
                    std::vector<std::string>{"--config-file=" + configuration.string(), "--nofork",
                                             "--address=" + address},
                    std::map<std::string, std::string>{{"PATH", "/usr/bin:/bin"}});
        ASSERT_TRUE(eventually([&] { return isSocket(runtime() / "bus"); }));
        startKeyring();
        // This process talks to the private bus too.
        if (const char* previous = ::getenv("DBUS_SESSION_BUS_ADDRESS")) saved = previous;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        ASSERT_TRUE(eventually([&] { return store().lookup("zai").status != Status::unavailable; }))
            << "the keyring never came up on the private bus";
    }

    void TearDown() override {
        keyring.reset();
        bus.reset();
        if (saved) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", saved->c_str(), 1);
        } else {
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
    }

    // Unlocked with an empty password (one empty line on its standard input), which creates
    // the login keyring. Its own files live outside the home folder the program is run with.
    void startKeyring() {
        const auto password = scratch.write("password", "\n");
        keyring.emplace("/bin/sh",
                        std::vector<std::string>{"-c",
                                                 std::string("exec ") + kKeyringDaemon +
                                                     " --unlock --components=secrets "
                                                     "--foreground < \"$0\"",
                                                 password.string()},
                        std::map<std::string, std::string>{
                            {"PATH", "/usr/bin:/bin"},
                            {"DBUS_SESSION_BUS_ADDRESS", address},
                            {"HOME", (scratch.path() / "keyring-home").string()},
                            {"XDG_DATA_HOME", (scratch.path() / "keyring-home/data").string()},
                            {"XDG_RUNTIME_DIR", runtime().string()}});
    }

    const platform::SecretStore& store() const { return platform::systemSecretStore(); }
    fs::path runtime() const { return scratch.path() / "run"; }

    testing::ProcessOutput probe(const std::string& origin) const {
        return testing::runProcess(testing::kestraneExecutable(), {"--probe", "zai"},
                                   {{"HOME", home.path().string()},
                                    {"PATH", "/usr/bin:/bin"},
                                    {"KESTRANE_ZAI_ORIGIN", origin},
                                    {"DBUS_SESSION_BUS_ADDRESS", address}});
    }

    testing::TempDirectory scratch;
    testing::TempDirectory home;
    std::string address;
    std::optional<std::string> saved;
    std::optional<testing::BackgroundProcess> bus;
    std::optional<testing::BackgroundProcess> keyring;
};

TEST_F(SecretServiceTest, AStoredKeyIsReadBackByAFreshProcessAndWrittenNowhereAtHome) {
    EXPECT_EQ(store().lookup("zai").status, Status::notFound);
    ASSERT_EQ(store().store("zai", "Kestrane: ключ API z.ai", kKey), Status::ok);
    const auto lookup = store().lookup("zai");
    EXPECT_EQ(lookup.status, Status::ok);
    EXPECT_EQ(lookup.secret, kKey);
    // Each provider's key is its own.
    EXPECT_EQ(store().lookup("minimax").status, Status::notFound);

    testing::FakeHttpServer fake;
    std::mutex mutex;
    std::string authorization;
    fake.server().Get("/api/monitor/usage/quota/limit", [&](const httplib::Request& request,
                                                            httplib::Response& response) {
        const std::lock_guard lock(mutex);
        authorization = request.get_header_value("Authorization");
        response.set_content(testing::fixture("zai/quota_limit.json"), "application/json");
    });
    fake.start();
    const auto result = probe(fake.origin());
    EXPECT_EQ(result.standardOutput,
              "z.ai OK: Сессия - 5 часов=25%, Все модели - Недельный=10%, Инструменты - "
              "Месячный=3%\n");
    EXPECT_EQ(result.standardError, "");
    {
        const std::lock_guard lock(mutex);
        EXPECT_EQ(authorization, kKey);
    }
    for (const auto& entry : fs::recursive_directory_iterator(home.path())) {
        if (!entry.is_regular_file()) continue;
        const auto contents = platform::readFile(entry.path(), 64 << 20).value_or("");
        EXPECT_EQ(contents.find(kKey), std::string::npos) << entry.path();
    }

    ASSERT_EQ(store().remove("zai"), Status::ok);
    EXPECT_EQ(store().lookup("zai").status, Status::notFound);
    EXPECT_EQ(store().remove("zai"), Status::ok);
}

TEST_F(SecretServiceTest, ALockedKeyringIsNeverUnlockedForARead) {
    ASSERT_EQ(store().store("zai", "Kestrane: ключ API z.ai", kKey), Status::ok);
    // Locking needs no prompt; unlocking would, and there is nobody here to answer it.
    const auto locked =
        testing::runProcess(kDbusSend,
                            {"--session", "--print-reply", "--dest=org.freedesktop.secrets",
                             "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                             "array:objpath:/org/freedesktop/secrets/collection/login"},
                            {{"PATH", "/usr/bin:/bin"}, {"DBUS_SESSION_BUS_ADDRESS", address}});
    ASSERT_EQ(locked.exitStatus, 0) << locked.standardError;
    EXPECT_EQ(store().lookup("zai").status, Status::locked);
    const auto result = probe("http://127.0.0.1:9");
    EXPECT_EQ(result.standardOutput,
              "z.ai ERROR: Связка ключей заблокирована, ключ API z.ai не прочитан. Разблокируйте "
              "её или задайте переменную ZAI_API_KEY.\n");
    // Nor does anything (libsecret, GLib) write to the standard error.
    EXPECT_EQ(result.standardError, "");
}

TEST_F(SecretServiceTest, WithoutASecretServiceTheStoreSaysItIsUnavailable) {
    keyring.reset();
    EXPECT_TRUE(eventually([&] { return store().lookup("zai").status == Status::unavailable; }));
    EXPECT_EQ(store().store("zai", "Kestrane: ключ API z.ai", kKey), Status::unavailable);
    EXPECT_EQ(store().remove("zai"), Status::unavailable);
    const auto result = probe("http://127.0.0.1:9");
    EXPECT_EQ(result.standardOutput,
              "z.ai ERROR: Ключ API z.ai не найден, а служба ключей недоступна: задайте "
              "переменную ZAI_API_KEY.\n");
    EXPECT_EQ(result.standardError, "");
    // Without any session bus at all, nothing is even tried.
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    const auto* runtimeDirectory = ::getenv("XDG_RUNTIME_DIR");
    if (!runtimeDirectory || !isSocket(fs::path(runtimeDirectory) / "bus")) {
        EXPECT_EQ(store().lookup("zai").status, Status::unavailable);
    }
}

}  // namespace
}  // namespace kestrane
