#include "localservices/LocalServiceClassifier.h"

#include <gtest/gtest.h>

namespace kestrane::localservices {
namespace {

const LocalServiceProject kProject{"shop", "/home/dev/shop"};

TEST(LocalServiceClassifierTest, DecidesWhichProcessesAreDevelopmentServices) {
    struct Case {
        const char* label;
        std::string name;
        std::string command;
        std::optional<std::string> workingDirectory;
        std::optional<LocalServiceProject> project;
        bool relevant;
    };
    const Case cases[] = {
        {"hidden agent even as a runtime", "rapportd", "/usr/bin/node server.js", "/home/dev/shop",
         kProject, false},
        {"hidden names compare lower-cased", "ControlCenter", "/x/ControlCenter", std::nullopt,
         kProject, false},
        {"node without project at the root", "node", "node index.js", "/", std::nullopt, true},
        {"runtime found through the command's program", "MainThread",
         "/usr/local/bin/Python3 -m http.server", std::nullopt, std::nullopt, true},
        {"python3 with a minor version", "python3.12", "python3.12 app.py", std::nullopt,
         std::nullopt, true},
        {"anything starting with php", "php-fpm8.2", "php-fpm: master process", std::nullopt,
         std::nullopt, true},
        {"anything starting with ruby", "ruby3.1", "ruby3.1 app.rb", std::nullopt, std::nullopt,
         true},
        {"node_modules in the command", "esbuild",
         "/home/dev/shop/node_modules/@esbuild/linux-x64/bin/esbuild --service", std::nullopt,
         std::nullopt, true},
        {"a virtual environment", "uvx", "/home/dev/api/.venv/bin/uvx serve", std::nullopt,
         std::nullopt, true},
        {"docker compose with spaces around", "sh", "sh -c docker compose up", std::nullopt,
         std::nullopt, true},
        {"only the hyphenated compose tool", "sh", "sh -c docker-compose up", std::nullopt,
         std::nullopt, false},
        {"non-runtime listener in a project", "caddy", "/usr/bin/caddy run", "/home/dev/shop",
         kProject, true},
        {"non-runtime listener without project", "caddy", "/usr/bin/caddy run", "/home/dev",
         std::nullopt, false},
        {"non-runtime with absent directory but a project", "caddy", "caddy run", std::nullopt,
         kProject, true},
        {"non-runtime at the root directory", "caddy", "caddy run", "/", kProject, false},
        {"empty command, fallback name", "process", "", "/home/dev/shop", kProject, true},
        // Where the system keeps applications and its own programs (Linux here; the macOS
        // rule has its own test beside the rule).
        {"browser under /opt in a project", "browser", "/opt/browser/browser --no-sandbox",
         "/home/dev/shop", kProject, false},
        {"libexec helper in a project", "helper", "/usr/libexec/helper --x", "/home/dev/shop",
         kProject, false},
        {"runtime from /usr/bin in a project", "python3", "/usr/bin/python3 -m http.server",
         "/home/dev/shop", kProject, true},
        {"vendor runtime in a project", "java", "/usr/lib/jvm/java-17/bin/java -jar app.jar",
         "/home/dev/shop", kProject, true},
        {"vendor runtime elsewhere", "node", "/opt/editor/resources/node server.js", "/home/dev",
         std::nullopt, false},
        {"Electron helper even as a runtime", "node",
         "/usr/bin/node /x/node_modules/electron/dist/electron --type=renderer", "/home/dev/shop",
         kProject, false},
        {"no-break space after the program", "MainThread", "/usr/bin/node\u00a0server.js",
         std::nullopt, std::nullopt, true},
        {"ideographic space after the program", "MainThread", "/usr/bin/python3\u3000app.py",
         std::nullopt, std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(
            LocalServiceClassifier::isRelevant(c.name, c.command, c.workingDirectory, c.project),
            c.relevant);
    }
}

TEST(LocalServiceClassifierTest, HeavyProcessesNeedAProjectAndAFolderOtherThanTheRoot) {
    LocalProcessMetadata busy{
        .pid = 10, .uid = 501, .cpuPercent = 25.0, .command = "cc1plus x.cpp"};
    EXPECT_TRUE(LocalServiceClassifier::isNotableProjectProcess(busy, "/home/dev/shop", kProject));
    EXPECT_FALSE(
        LocalServiceClassifier::isNotableProjectProcess(busy, "/home/dev/shop", std::nullopt));
    EXPECT_FALSE(LocalServiceClassifier::isNotableProjectProcess(busy, std::nullopt, kProject));
    EXPECT_FALSE(LocalServiceClassifier::isNotableProjectProcess(busy, "/", kProject));

    struct Case {
        const char* label;
        std::optional<double> cpu;
        std::optional<std::uint64_t> memory;
        std::string command;
        bool notable;
    };
    const Case cases[] = {
        {"exactly 20 % CPU", 20.0, std::nullopt, "x", true},
        {"exactly 512 MiB", 1.0, 536'870'912, "x", true},
        {"just below both", 19.9, 536'870'912 - 1024, "x", false},
        {"nothing known", std::nullopt, std::nullopt, "x", false},
        {"program from a vendor tree", 90.0, std::nullopt, "/usr/share/code/code --x", false},
        {"runtime from a vendor tree", 90.0, std::nullopt, "/opt/node/bin/node build.js", true},
        {"browser helper", 90.0, std::nullopt, "/opt/app/app --type=gpu-process", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const LocalProcessMetadata metadata{.pid = 10,
                                            .uid = 501,
                                            .cpuPercent = c.cpu,
                                            .memoryBytes = c.memory,
                                            .command = c.command};
        EXPECT_EQ(
            LocalServiceClassifier::isNotableProjectProcess(metadata, "/home/dev/shop", kProject),
            c.notable);
    }
}

TEST(LocalServiceClassifierTest, FirstTokenAndLastPathComponent) {
    EXPECT_EQ(LocalServiceClassifier::firstToken("  \t/usr/bin/node  a b"), "/usr/bin/node");
    EXPECT_EQ(LocalServiceClassifier::firstToken(" \t "), "");
    // Any Unicode white space separates, not only ASCII blanks.
    const std::pair<std::string, std::string> unicode[] = {
        {"/usr/bin/node\u00a0server.js", "/usr/bin/node"},  // no-break space
        {"\u3000/usr/bin/node\u3000a", "/usr/bin/node"},    // ideographic space
        {"\u2003\u202fnode\u2009x", "node"},                // em, narrow, thin spaces
        {"/opt/caf\u00e9/node x", "/opt/caf\u00e9/node"},   // other letters stay
        {"a\xff\xa0"
         "b c",
         "a\xff\xa0"
         "b"},  // broken UTF-8 stays
    };
    for (const auto& [command, token] : unicode) {
        SCOPED_TRACE(command);
        EXPECT_EQ(LocalServiceClassifier::firstToken(command), token);
    }
    EXPECT_EQ(LocalServiceClassifier::lastPathComponent("/usr/bin/node"), "node");
    EXPECT_EQ(LocalServiceClassifier::lastPathComponent("/usr/bin/"), "bin");
    EXPECT_EQ(LocalServiceClassifier::lastPathComponent("node"), "node");
    EXPECT_EQ(LocalServiceClassifier::lastPathComponent("/"), "/");
}

}  // namespace
}  // namespace kestrane::localservices
