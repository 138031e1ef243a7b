#include "platform/Base64.h"

#include <gtest/gtest.h>

namespace kestrane::platform {
namespace {

TEST(Base64Test, DecodingIsStrict) {
    EXPECT_EQ(decodeBase64("aGVsbG8="), "hello");
    EXPECT_EQ(decodeBase64("aGk="), "hi");
    EXPECT_EQ(decodeBase64("aGk+"), "hi>");
    EXPECT_EQ(decodeBase64(""), "");
    EXPECT_EQ(decodeBase64("aGk"), std::nullopt);
    EXPECT_EQ(decodeBase64("a==="), std::nullopt);
    EXPECT_EQ(decodeBase64("a=bc"), std::nullopt);
    EXPECT_EQ(decodeBase64("aG k"), std::nullopt);
}

}  // namespace
}  // namespace kestrane::platform
