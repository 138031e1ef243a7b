// Inputs the fuzz harnesses found that a parser handled wrongly, kept as regression cases.
#include <gtest/gtest.h>

#include "localservices/LocalServiceParser.h"
#include "platform/Calendar.h"

namespace kestrane {
namespace {

using localservices::LocalServiceParser::listeners;
using localservices::LocalServiceParser::processMetadata;
using localservices::LocalServiceParser::workingDirectories;

// A pid of 0 or below names no process; handed on to lsof -p, ps -p or kill it would mean
// something else entirely (kill(-n) signals a whole process group).
TEST(FuzzFindingsTest, ProcessListingsIgnoreProcessIdsBelowOne) {
    for (const char* pid : {"0", "-5", "+0", "-2147483648"}) {
        SCOPED_TRACE(pid);
        const std::string id(pid);
        EXPECT_TRUE(listeners("p" + id + "\ncnode\nu1000\nf3\nn*:8000\n").empty());
        EXPECT_TRUE(workingDirectories("p" + id + "\nfcwd\nn/home/dev/shop\n").empty());
        EXPECT_TRUE(processMetadata(id + " 1000 0.5 100 Mon Jan  5 09:03:07 2026 node server.js\n",
                                    platform::Calendar("UTC"))
                        .empty());
    }
    // The fields after such a line are not pinned on the process before it.
    const auto records = listeners("p412\ncnode\nu1000\nn*:3000\np0\nn*:8000\n");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].ports, (std::set<int>{3000}));
}

}  // namespace
}  // namespace kestrane
