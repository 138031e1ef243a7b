#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/LimitWindow.h"
#include "model/ProviderUsage.h"
#include "platform/Clock.h"
#include "platform/Date.h"
#include "platform/Environment.h"
#include "platform/Json.h"

namespace kestrane::providers {

// One running language server of the Antigravity editor, as its command line describes it.
struct AntigravityProcess {
    int pid = 0;
    std::string csrfToken;
    std::optional<int> extensionPort;
    std::optional<std::string> extensionToken;

    bool operator==(const AntigravityProcess&) const = default;
};

struct AntigravityIdentity {
    std::optional<std::string> email;
    std::optional<std::string> plan;

    bool operator==(const AntigravityIdentity&) const = default;
};

// Fetches the Antigravity quota from the language server the running editor starts on this
// machine. It has no settings: every fetch finds the server processes afresh (process and
// socket listings), then asks each of their loopback endpoints in turn until one answers.
class AntigravityClient {
  public:
    // Where one server can be reached.
    struct Endpoint {
        std::string scheme;
        int port = 0;
        // Sent as the CSRF header; the header is left out when empty.
        std::string csrfToken;

        bool operator==(const Endpoint&) const = default;
    };

    // Time limits: the process listing and each socket listing (neither takes more than a
    // fraction of a second, but a stuck one must not hold the fetch), and each request to a
    // server unless Options say otherwise. The fetch's deadline (FetchDeadlines) is counted
    // from the longest.
    static constexpr std::chrono::seconds processListingLimit{10};
    static constexpr std::chrono::seconds socketListingLimit{5};
    static constexpr std::chrono::seconds defaultRequestLimit{3};

    struct Options {
        // How servers are found; the real process and socket listings when empty.
        std::function<std::vector<AntigravityProcess>()> runningProcesses;
        std::function<std::vector<int>(int pid)> listeningPorts;
        // Limit of every request (connection, idle and whole exchange).
        std::chrono::milliseconds requestLimit{defaultRequestLimit};
    };

    static constexpr std::string_view summaryPath =
        "/exa.language_server_pb.LanguageServerService/RetrieveUserQuotaSummary";
    static constexpr std::string_view userStatusPath =
        "/exa.language_server_pb.LanguageServerService/GetUserStatus";
    static constexpr std::string_view modelConfigsPath =
        "/exa.language_server_pb.LanguageServerService/GetCommandModelConfigs";

    // The editor's own folder of settings and state (its sign-in among them).
    static std::filesystem::path stateDirectory(const platform::Environment& environment);
    // Whether that folder is there. Finding the running server would take ps and lsof, and
    // the folder stays while the editor is closed; it is there once the editor has been used.
    static bool hasStoredSignIn(const platform::Environment& environment);

    explicit AntigravityClient(const platform::Clock& clock);
    AntigravityClient(const platform::Clock& clock, Options options);

    // Blocks for the listings and the requests; safe on any thread.
    model::ProviderUsage fetch() const;
    model::ProviderUsage fetchUsage(const Endpoint& endpoint) const;
    // The answer body of one Connect call. Throws QuotaError or TransportError.
    std::string request(const Endpoint& endpoint, std::string_view path,
                        const platform::Json& body) const;

    // Discovery. Throws LaunchError when ps cannot start, QuotaError when it fails.
    static std::vector<AntigravityProcess> runningProcesses();
    // Never throws: any failure gives no ports.
    static std::vector<int> listeningPorts(int pid);
    static std::vector<Endpoint> endpoints(const AntigravityProcess& process,
                                           const std::vector<int>& listeningPorts);
    // Standard output of a finished program, "" when it is not UTF-8. Throws LaunchError,
    // or QuotaError when the program fails or outlives `limit`.
    static std::string processOutput(const std::filesystem::path& executable,
                                     const std::vector<std::string>& arguments,
                                     std::size_t maxOutputBytes, std::chrono::milliseconds limit);
    // The qualifying processes of a `ps -o pid=,command=` listing, in listing order.
    static std::vector<AntigravityProcess> parseProcessListing(std::string_view listing);
    // The same for a `ps -o pid=,uid=,command=` listing, keeping only processes of `owner`.
    static std::vector<AntigravityProcess> parseOwnedProcessListing(std::string_view listing,
                                                                    uid_t owner);
    // Ascending distinct ports of an lsof listing of listening TCP sockets.
    static std::vector<int> parseListeningPorts(std::string_view listing);
    // The value of option `name` ("--name=value" or "--name value", name in any case).
    static std::optional<std::string> flag(std::string_view name, std::string_view command);

    // Answers. Parse failures throw QuotaError or DecodingError.
    static model::ProviderUsage parseQuotaSummary(std::string_view data,
                                                  const std::optional<std::string>& identityData,
                                                  platform::Date now);
    static model::ProviderUsage parseLegacyUsage(std::string_view data, platform::Date now);
    static std::optional<AntigravityIdentity> identity(std::string_view data);
    static void validateCode(const platform::Json& object);
    static std::optional<std::int64_t> durationMinutes(std::string_view bucketID,
                                                       std::string_view displayName);
    static std::string slug(std::string_view text);
    static bool windowOrder(const model::LimitWindow& a, const model::LimitWindow& b);
    static std::optional<platform::Date> parseDate(const std::optional<std::string>& text);

  private:
    const platform::Clock& clock_;
    Options options_;
};

}  // namespace kestrane::providers
