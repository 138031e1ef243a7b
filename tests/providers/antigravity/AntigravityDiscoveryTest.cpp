#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "model/QuotaError.h"
#include "platform/ChildProcess.h"
#include "providers/antigravity/AntigravityClient.h"
#include "support/FakeHttpServer.h"

namespace kestrane::providers {
namespace {

using Endpoint = AntigravityClient::Endpoint;

const std::string kBundleServer =
    "/Applications/Antigravity.app/Contents/Resources/app/extensions/antigravity/bin/"
    "language_server_macos_arm";

TEST(AntigravityDiscoveryTest, ReadsPidTokenAndExtensionOptionsOfTheEditorsServer) {
    const std::string listing = "  4242 " + kBundleServer +
                                " --csrf_token abc-123 --extension_server_port 4100"
                                " --extension_server_csrf_token ext-9\n";
    const auto processes = AntigravityClient::parseProcessListing(listing);
    ASSERT_EQ(processes.size(), 1u);
    EXPECT_EQ(processes[0], (AntigravityProcess{4242, "abc-123", 4100, "ext-9"}));
}

TEST(AntigravityDiscoveryTest, TakesOnlyServersOfTheGivenOwner) {
    // ps -o pid=,uid=,command= pads both numbers to their columns.
    const std::string listing = "  4242  1000 " + kBundleServer + " --csrf_token mine\n" +
                                "  4243     0 " + kBundleServer + " --csrf_token roots\n" +
                                " 14244 10000 " + kBundleServer + " --csrf_token prefix-of-uid\n" +
                                "  4245  1000\n" + "  4246 x1000 " + kBundleServer +
                                " --csrf_token bad-uid\n";
    const auto mine = AntigravityClient::parseOwnedProcessListing(listing, 1000);
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(mine[0], (AntigravityProcess{4242, "mine", std::nullopt, std::nullopt}));
    const auto roots = AntigravityClient::parseOwnedProcessListing(listing, 0);
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0].csrfToken, "roots");
    EXPECT_TRUE(AntigravityClient::parseOwnedProcessListing(listing, 1).empty());
}

TEST(AntigravityDiscoveryTest, QualifiesOnlyTheEditorsLanguageServerWithAToken) {
    struct Case {
        const char* line;
        bool qualifies;
    };
    const Case cases[] = {
        {"10 /opt/x/language-server-x64 --app_data_dir antigravity --csrf_token t", true},
        {"10 language_server --app_data_dir /home/u/.antigravity --csrf_token t", true},
        {"10 C:\\ag\\language_server_windows_x64.exe --app_data_dir antigravity --csrf_token t",
         false},
        {"10 C:\\ag\\language_server_windows_x64 --app_data_dir antigravity --csrf_token t", true},
        {"10 /Applications/ANTIGRAVITY.APP/bin/LANGUAGE_SERVER_MACOS --csrf_token t", true},
        // Another editor's server: neither the bundle nor the data folder names Antigravity.
        {"10 /opt/other/language_server_linux_x64 --app_data_dir other --csrf_token t", false},
        {"10 /opt/x/language_server_linux_x64 --csrf_token t antigravity", false},
        // A wrapper script and a differently named program are not the server.
        {"10 /opt/x/language_server_wrapper.sh --app_data_dir antigravity --csrf_token t", false},
        {"10 /opt/x/my_language_server --app_data_dir antigravity --csrf_token t", false},
        {"10 /opt/x/languageserver --app_data_dir antigravity --csrf_token t", false},
        // No token, no server to talk to.
        {"10 /opt/x/language_server_linux_x64 --app_data_dir antigravity", false},
        {"10 /opt/x/language_server_linux_x64 --app_data_dir antigravity --csrf_token", false},
        // Malformed listing lines.
        {"abc /opt/x/language_server --app_data_dir antigravity --csrf_token t", false},
        {"12x /opt/x/language_server --app_data_dir antigravity --csrf_token t", false},
        {"99999999999999999999 /opt/x/language_server --app_data_dir antigravity --csrf_token t",
         false},
        {"10", false},
        {"   ", false},
        {"10\t/opt/x/language_server --app_data_dir antigravity --csrf_token t", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(AntigravityClient::parseProcessListing(c.line).size(), c.qualifies ? 1u : 0u);
    }
}

TEST(AntigravityDiscoveryTest, KeepsListingOrderAndSkipsBadLinesBetweenGoodOnes) {
    const std::string server = " /x/language_server --app_data_dir antigravity --csrf_token ";
    const std::string huge = "7" + server + "t7 " + std::string(200'000, 'a');
    const std::string listing = "   30" + server + "t30\r\n\n+5" + server + "t5\n" + huge +
                                "\nnope" + server + "tx\n-2" + server + "t-2";
    const auto processes = AntigravityClient::parseProcessListing(listing);
    ASSERT_EQ(processes.size(), 3u);
    EXPECT_EQ(processes[0].pid, 30);
    EXPECT_EQ(processes[1].pid, 5);
    EXPECT_EQ(processes[1].csrfToken, "t5");
    EXPECT_EQ(processes[2].pid, -2);
}

TEST(AntigravityDiscoveryTest, ExtensionPortMustBeADecimalInteger) {
    const std::string prefix = "1 /x/language_server --app_data_dir antigravity --csrf_token t ";
    struct Case {
        const char* options;
        std::optional<int> port;
        std::optional<std::string> token;
    };
    const Case cases[] = {
        {"--extension_server_port=+4100", 4100, std::nullopt},
        {"--extension_server_port 41x0 --extension_server_csrf_token=e", std::nullopt, "e"},
        {"--extension_server_port", std::nullopt, std::nullopt},
        {"--extension_server_port= 4100", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const auto processes = AntigravityClient::parseProcessListing(prefix + c.options);
        ASSERT_EQ(processes.size(), 1u);
        EXPECT_EQ(processes[0].extensionPort, c.port);
        EXPECT_EQ(processes[0].extensionToken, c.token);
        EXPECT_EQ(processes[0].csrfToken, "t");
    }
}

TEST(AntigravityDiscoveryTest, FlagValueIgnoresCaseAndEndsAtWhiteSpace) {
    struct Case {
        const char* command;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"server --CSRF_TOKEN=Upper-Value --x", "Upper-Value"},
        {"server --csrf_token \t  spaced rest", "spaced"},
        {"server --extension_server_csrf_token e", std::nullopt},
        {"server --csrf_tokens=x", std::nullopt},
        {"server --csrf_token=", std::nullopt},
        {"server --csrf_token=a --csrf_token=b", "a"},
        {"server --csrf_token=тoкен", "тoкен"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(AntigravityClient::flag("--csrf_token", c.command), c.value);
    }
    // The name is taken literally, never as a pattern.
    EXPECT_EQ(AntigravityClient::flag("--a.b", "x --a.b=1 --axb=2"), "1");
    EXPECT_EQ(AntigravityClient::flag("--a.b", "x --axb=2"), std::nullopt);
    EXPECT_EQ(AntigravityClient::flag("(", "x (=1"), "1");
}

TEST(AntigravityDiscoveryTest, ListeningPortsFromLsofOutput) {
    const std::string listing =
        "COMMAND     PID USER   FD   TYPE DEVICE SIZE/OFF NODE NAME\n"
        "language_ 4242 dev   12u  IPv4 0x1      0t0  TCP 127.0.0.1:4100 (LISTEN)\n"
        "language_ 4242 dev   13u  IPv6 0x2      0t0  TCP [::1]:4100 (LISTEN)\n"
        "language_ 4242 dev   14u  IPv4 0x3      0t0  TCP 127.0.0.1:40123 (LISTEN)\n"
        "language_ 4242 dev   15u  IPv4 0x4      0t0  TCP *:3999 (LISTEN)\n"
        "language_ 4242 dev   16u  IPv4 0x5      0t0  TCP 127.0.0.1:99999 (LISTEN)\n"
        "language_ 4242 dev   17u  IPv4 0x6      0t0  TCP 127.0.0.1:5000->1.2.3.4:80 "
        "(ESTABLISHED)\n";
    EXPECT_EQ(AntigravityClient::parseListeningPorts(listing),
              (std::vector<int>{3999, 4100, 40123}));
    EXPECT_TRUE(AntigravityClient::parseListeningPorts("").empty());
}

TEST(AntigravityDiscoveryTest, EndpointsHttpsPortsAscendingThenExtensionWithoutRepeats) {
    const AntigravityProcess process{1, "main", 4100, std::nullopt};
    EXPECT_EQ(AntigravityClient::endpoints(process, {4101, 4100, 4101}),
              (std::vector<Endpoint>{
                  {"https", 4100, "main"}, {"https", 4101, "main"}, {"http", 4100, "main"}}));

    const AntigravityProcess withToken{1, "main", 4100, "ext"};
    EXPECT_EQ(AntigravityClient::endpoints(withToken, {}),
              (std::vector<Endpoint>{{"http", 4100, "ext"}}));
    EXPECT_TRUE(AntigravityClient::endpoints({1, "main", std::nullopt, std::nullopt}, {}).empty());
}

TEST(AntigravityDiscoveryTest, ProcessOutputFailuresAndUndecodableOutput) {
    using namespace std::chrono_literals;
    try {
        AntigravityClient::processOutput("/bin/false", {}, 1024, 5s);
        ADD_FAILURE() << "a failing program must fail";
    } catch (const model::QuotaError& error) {
        EXPECT_EQ(std::string(error.what()), "Не удалось проверить локальный процесс Antigravity.");
    }
    EXPECT_THROW(AntigravityClient::processOutput("/nonexistent/ps", {}, 1024, 5s),
                 platform::LaunchError);
    EXPECT_EQ(AntigravityClient::processOutput("/usr/bin/printf", {"ok\\n\\377\\n"}, 1024, 5s), "");
    EXPECT_EQ(AntigravityClient::processOutput("/usr/bin/printf", {"один\\n"}, 1024, 5s), "один\n");
    // Output over the cap keeps only whole lines.
    EXPECT_EQ(AntigravityClient::processOutput("/usr/bin/printf", {"12345\\n6789"}, 8, 5s),
              "12345\n");
    // A program that never ends is stopped at the limit and counts as failed.
    EXPECT_THROW(AntigravityClient::processOutput("/bin/sleep", {"30"}, 1024, 50ms),
                 model::QuotaError);
}

TEST(AntigravityDiscoveryTest, ListeningPortsOfARealProcessThroughLsof) {
    testing::FakeHttpServer server;
    server.start();
    const auto ports = AntigravityClient::listeningPorts(static_cast<int>(::getpid()));
    EXPECT_NE(std::find(ports.begin(), ports.end(), server.port()), ports.end());
    // A process that does not exist: lsof fails, which is simply no ports.
    EXPECT_TRUE(AntigravityClient::listeningPorts(0x7ffffff0).empty());
}

}  // namespace
}  // namespace kestrane::providers
