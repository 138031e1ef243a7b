// A stand-in for the Antigravity editor's language server, built as an executable named like
// the real one so that the client finds it through the real process and socket listings.
//
// Options the client reads from the command line (as the real server has them):
//   --csrf_token T                   HTTPS on a free loopback port, self-signed certificate
//                                    made at start-up, every call must carry T
//   --extension_server_port P        plain HTTP on loopback port P (0: a free one)
//   --extension_server_csrf_token E  the token the HTTP port expects (else T)
// Options of the fake itself:
//   --fake_fixtures DIR   answers: summary.json, user_status.json, model_configs.json
//   --fake_mode M         summary (default) | legacy (no summary: 404) | refuse (403 to all)
//   --fake_https_mode M   the mode of the HTTPS port alone
//   --fake_delay_ms N     wait N ms before every answer (with --fake_delay_summary_only 1:
//                         before the quota summary only)
//   --fake_get PATH=FILE  the plain-HTTP port also answers GET PATH with FILE (after the
//                         delay), to stand in for another provider's service in benchmarks
// Once both servers listen it prints "ready <https port> <http port>" (0 when not serving).

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace {

constexpr const char* kSummaryPath =
    "/exa.language_server_pb.LanguageServerService/RetrieveUserQuotaSummary";
constexpr const char* kUserStatusPath =
    "/exa.language_server_pb.LanguageServerService/GetUserStatus";
constexpr const char* kModelConfigsPath =
    "/exa.language_server_pb.LanguageServerService/GetCommandModelConfigs";

std::map<std::string, std::string> parseOptions(int argc, char** argv) {
    std::map<std::string, std::string> options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--", 0) != 0) continue;
        // Option names in any case, as the client reads them.
        const auto equals = argument.find('=');
        std::string name = argument.substr(0, equals);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (equals != std::string::npos) {
            options[name] = argument.substr(equals + 1);
        } else if (i + 1 < argc) {
            options[name] = argv[++i];
        }
    }
    return options;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

struct Answers {
    std::string mode = "summary";
    std::chrono::milliseconds delay{0};
    bool delaySummaryOnly = false;
    std::map<std::string, std::string> bodies;
};

void serve(httplib::Server& server, const Answers& answers, const std::string& token) {
    // Without it, Nagle's algorithm and delayed acknowledgements add 40 ms to every TLS answer,
    // which would be the fake's cost, not the client's.
    server.set_tcp_nodelay(true);
    server.Post(R"(/.*)",
                [answers, token](const httplib::Request& request, httplib::Response& response) {
                    if (request.get_header_value("X-Codeium-Csrf-Token") != token) {
                        response.status = 403;
                        return;
                    }
                    if (request.get_header_value("Connect-Protocol-Version") != "1" ||
                        request.get_header_value("Content-Type") != "application/json") {
                        response.status = 415;
                        return;
                    }
                    if (!answers.delaySummaryOnly || request.path == kSummaryPath) {
                        std::this_thread::sleep_for(answers.delay);
                    }
                    if (answers.mode == "refuse") {
                        response.status = 403;
                        return;
                    }
                    if (answers.mode == "legacy" && request.path == kSummaryPath) {
                        response.status = 404;
                        return;
                    }
                    const auto body = answers.bodies.find(request.path);
                    if (body == answers.bodies.end()) {
                        response.status = 404;
                        return;
                    }
                    response.set_content(body->second, "application/json");
                });
}

// A throw-away key and self-signed certificate for "localhost".
struct Certificate {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;

    Certificate() {
        key = EVP_EC_gen("P-256");
        certificate = X509_new();
        if (!key || !certificate) return;
        X509_set_version(certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 24 * 3600);
        X509_set_pubkey(certificate, key);
        X509_NAME* name = X509_get_subject_name(certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
        X509_set_issuer_name(certificate, name);
        X509_sign(certificate, key, EVP_sha256());
    }
    ~Certificate() {
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    const auto option = [&](const std::string& name) {
        const auto it = options.find(name);
        return it == options.end() ? std::string() : it->second;
    };

    Answers answers;
    if (!option("--fake_mode").empty()) answers.mode = option("--fake_mode");
    if (!option("--fake_delay_ms").empty()) {
        answers.delay = std::chrono::milliseconds(std::stoi(option("--fake_delay_ms")));
    }
    answers.delaySummaryOnly = option("--fake_delay_summary_only") == "1";
    const std::string fixtures = option("--fake_fixtures");
    if (!fixtures.empty()) {
        answers.bodies[kSummaryPath] = readFile(fixtures + "/summary.json");
        answers.bodies[kUserStatusPath] = readFile(fixtures + "/user_status.json");
        answers.bodies[kModelConfigsPath] = readFile(fixtures + "/model_configs.json");
    }

    const std::string token = option("--csrf_token");
    Certificate certificate;
    std::unique_ptr<httplib::SSLServer> https;
    int httpsPort = 0;
    if (!token.empty()) {
        https = std::make_unique<httplib::SSLServer>(certificate.certificate, certificate.key);
        if (!https->is_valid()) return 2;
        Answers httpsAnswers = answers;
        if (!option("--fake_https_mode").empty()) httpsAnswers.mode = option("--fake_https_mode");
        serve(*https, httpsAnswers, token);
        httpsPort = https->bind_to_any_port("127.0.0.1");
        if (httpsPort <= 0) return 2;
    }

    std::unique_ptr<httplib::Server> http;
    int httpPort = 0;
    const std::string extensionPort = option("--extension_server_port");
    if (!extensionPort.empty()) {
        const std::string extensionToken = option("--extension_server_csrf_token");
        http = std::make_unique<httplib::Server>();
        serve(*http, answers, extensionToken.empty() ? token : extensionToken);
        const std::string route = option("--fake_get");
        if (const auto equals = route.find('='); equals != std::string::npos) {
            const std::string body = readFile(route.substr(equals + 1));
            const auto delay = answers.delay;
            http->Get(route.substr(0, equals),
                      [body, delay](const httplib::Request&, httplib::Response& response) {
                          std::this_thread::sleep_for(delay);
                          response.set_content(body, "application/json");
                      });
        }
        const int requested = std::stoi(extensionPort);
        if (requested == 0) {
            httpPort = http->bind_to_any_port("127.0.0.1");
        } else if (http->bind_to_port("127.0.0.1", requested)) {
            httpPort = requested;
        }
        if (httpPort <= 0) return 3;
    }

    std::thread httpsThread, httpThread;
    if (https) httpsThread = std::thread([&] { https->listen_after_bind(); });
    if (http) httpThread = std::thread([&] { http->listen_after_bind(); });
    // Listening sockets accept from the moment they are bound; report readiness now.
    std::printf("ready %d %d\n", httpsPort, httpPort);
    std::fflush(stdout);
    if (httpsThread.joinable()) httpsThread.join();
    if (httpThread.joinable()) httpThread.join();
    return 0;
}
