#include "platform/HostDescription.h"

#include <gtest/gtest.h>

namespace kestrane::platform {
namespace {

TEST(HostDescriptionTest, VersionTripleFromKernelReleases) {
    struct Case {
        const char* release;
        const char* triple;
    };
    const Case cases[] = {
        {"6.1.0-18-amd64", "6.1.0"},
        {"5.15.153.1-microsoft-standard-WSL2", "5.15.153"},
        {"6.8.0", "6.8.0"},
        {"6.8-rc1", "6.8.0"},
        {"6", "6.0.0"},
        {"06.01.007", "6.1.7"},
        {"", "0.0.0"},
        {"linux", "0.0.0"},
        {"4.19.", "4.19.0"},
        {"99999999999999999999.1", "0.0.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        EXPECT_EQ(versionTriple(c.release), c.triple);
    }
}

TEST(HostDescriptionTest, CurrentHostDescribesTheRunningLinux) {
    const auto host = currentHost();
    EXPECT_EQ(host.deviceModel.rfind("Linux " + host.operatingSystemVersion + " ", 0), 0u)
        << host.deviceModel;
    EXPECT_GT(host.deviceModel.size(), ("Linux " + host.operatingSystemVersion + " ").size());
    EXPECT_NE(host.operatingSystemVersion, "0.0.0");
}

}  // namespace
}  // namespace kestrane::platform
