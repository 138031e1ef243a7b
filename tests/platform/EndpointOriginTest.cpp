#include "platform/EndpointOrigin.h"

#include <gtest/gtest.h>

namespace kestrane::platform {
namespace {

TEST(EndpointOriginTest, OverridesAreAcceptedOnlyWhereTokensStayPrivate) {
    struct Case {
        std::optional<std::string> value;
        std::string origin;
        bool valid;
    };
    const std::string fallback = "https://api.example.com";
    const Case cases[] = {
        {std::nullopt, fallback, true},
        {"", fallback, true},
        {"https://proxy.internal:8443", "https://proxy.internal:8443", true},
        {"https://proxy.internal/", "https://proxy.internal", true},
        {"http://127.0.0.1:5000", "http://127.0.0.1:5000", true},
        {"http://localhost:5000", "http://localhost:5000", true},
        {"http://[::1]:5000", "http://[::1]:5000", true},
        {"http://example.com", fallback, false},
        {"http://127.0.0.2", fallback, false},
        {"ftp://127.0.0.1", fallback, false},
        {"https://host/path", fallback, false},
        {"https://user@host", fallback, false},
        {"https://host:0", fallback, false},
        {"https://host:99999", fallback, false},
        {"https://", fallback, false},
        {"127.0.0.1:80", fallback, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.value_or("<unset>"));
        std::map<std::string, std::string, std::less<>> variables;
        if (c.value) variables["KESTRANE_TEST_ORIGIN"] = *c.value;
        const MapEnvironment environment(variables, "/home/test");
        const auto resolved = resolveOrigin(environment, "KESTRANE_TEST_ORIGIN", fallback);
        EXPECT_EQ(resolved.origin, c.origin);
        EXPECT_EQ(!resolved.error.has_value(), c.valid);
        if (resolved.error) {
            EXPECT_NE(resolved.error->find("KESTRANE_TEST_ORIGIN"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace kestrane::platform
