#include "localservices/LocalServiceParser.h"

#include <gtest/gtest.h>

#include "platform/Files.h"

namespace kestrane::localservices {
namespace {

std::string fixture(const std::string& name) {
    return platform::readFile(std::string(KESTRANE_FIXTURES) + "/localservices/" + name, 1 << 20)
        .value_or("");
}

TEST(LocalServiceParserTest, PortIsTheNumberAfterTheLastColon) {
    struct Case {
        const char* name;
        std::optional<int> port;
    };
    const Case cases[] = {
        {"*:3000", 3000},
        {"127.0.0.1:8080", 8080},
        {"[::1]:5173", 5173},
        {"*:*", std::nullopt},
        {"localhost", std::nullopt},
        {"*:", std::nullopt},
        {"*:0", std::nullopt},
        {"*:65535", 65535},
        {"*:65536", std::nullopt},
        {"*:80x", std::nullopt},
        {"*: 80", std::nullopt},
        {"*:-1", std::nullopt},
        {"*:99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LocalServiceParser::port(c.name), c.port);
    }
}

TEST(LocalServiceParserTest, ListenersGroupFieldsUnderTheirPid) {
    const auto records = LocalServiceParser::listeners(fixture("lsof_listeners.txt"));
    ASSERT_EQ(records.size(), 3u);

    // Both address families on one port count once; ports sort ascending.
    EXPECT_EQ(records[0], (LocalListenerRecord{412, 1000, "node", {3000, 9229}}));
    // A group without a "u" line keeps uid 0; a later "c" line wins.
    EXPECT_EQ(records[1], (LocalListenerRecord{977, 0, "vite-renamed", {5173}}));
    // Fields after an unreadable pid line belong to nobody, not to the process before it.
    EXPECT_EQ(records[2], (LocalListenerRecord{1500, 1000, "python3", {8000}}));
}

TEST(LocalServiceParserTest, ListenersToleratesEmptyAndOddInput) {
    EXPECT_TRUE(LocalServiceParser::listeners("").empty());
    EXPECT_TRUE(LocalServiceParser::listeners("\n\n\n").empty());
    // No port at all: the process is not a listener.
    EXPECT_TRUE(LocalServiceParser::listeners("p12\ncnode\nu0\nn*:*\n").empty());
    // Fields before any pid line are ignored; an unreadable uid keeps 0.
    EXPECT_EQ(LocalServiceParser::listeners("n*:1\nu5\np7\nuroot\nn*:22\n"),
              (std::vector<LocalListenerRecord>{{7, 0, "", {22}}}));
    EXPECT_EQ(LocalServiceParser::listeners("p\nn*:1\np+8\nn*:2\r\n"),
              (std::vector<LocalListenerRecord>{}));  // "2\r" is no port
}

TEST(LocalServiceParserTest, ProcessTableReadsEveryColumn) {
    const platform::Calendar moscow("Europe/Moscow");
    const auto table = LocalServiceParser::processMetadata(fixture("ps_user.txt"), moscow);

    ASSERT_EQ(table.size(), 3u);
    const auto& node = table.at(412);
    EXPECT_EQ(node.uid, 1000u);
    EXPECT_EQ(node.cpuPercent, 0.5);
    EXPECT_EQ(node.memoryBytes, 81'920u * 1024);
    // Two spaces before a one-digit day become one; the date is read in Moscow time.
    EXPECT_EQ(node.startToken, "Mon Jan 5 09:03:07 2026");
    EXPECT_EQ(node.startedAt, platform::Date{1767592987});
    EXPECT_EQ(node.command, "/usr/bin/node /home/dev/shop/server.js --port 3000");

    const auto& odd = table.at(977);
    EXPECT_EQ(odd.cpuPercent, std::nullopt);   // "-" is no number
    EXPECT_EQ(odd.memoryBytes, std::nullopt);  // too large to be bytes
    EXPECT_EQ(odd.startedAt, std::nullopt);    // February 30th does not exist
    EXPECT_EQ(odd.startToken, "Fri Feb 30 10:00:00 2026");
    EXPECT_EQ(odd.command, "vite --host");  // tabs and runs of spaces collapse

    // The later line for a pid replaces the earlier one.
    EXPECT_EQ(table.at(1500).command, "python3 -m http.server second");
    // Short lines, unreadable pids and uids are skipped.
    EXPECT_FALSE(table.contains(9));
    EXPECT_FALSE(table.contains(10));
}

TEST(LocalServiceParserTest, ProcessTableKeepsAHugeCommandWhole) {
    const std::string command = "node " + std::string(100'000, 'x');
    const auto table = LocalServiceParser::processMetadata(
        "1 2 3.5 4 Sun Mar 29 02:30:00 2026 " + command + "\n", platform::Calendar("UTC"));
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table.at(1).command, command);
    EXPECT_TRUE(table.at(1).startedAt);
}

TEST(LocalServiceParserTest, WorkingDirectoriesFollowTheirPid) {
    const auto directories = LocalServiceParser::workingDirectories(
        "p12\nfcwd\nn/home/dev/shop\np13\nn/tmp\nn/srv\n"
        "pbad\nn/etc\np14\n");
    EXPECT_EQ(directories,
              (std::map<std::int32_t, std::string>{{12, "/home/dev/shop"}, {13, "/srv"}}));
}

}  // namespace
}  // namespace kestrane::localservices
