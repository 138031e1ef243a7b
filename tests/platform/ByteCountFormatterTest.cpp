#include "platform/ByteCountFormatter.h"

#include <gtest/gtest.h>

namespace kestrane::platform {
namespace {

TEST(ByteCountFormatterTest, MemorySizesInRussian) {
    constexpr std::uint64_t KiB = 1024;
    constexpr std::uint64_t MiB = KiB * 1024;
    constexpr std::uint64_t GiB = MiB * 1024;
    struct Case {
        std::uint64_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 байт"},
        {1023, "1023 байт"},
        {KiB, "1 КБ"},
        // Kilobytes are whole, and halves round up, not to even.
        {KiB + 511, "1 КБ"},
        {KiB + 512, "2 КБ"},
        {2 * KiB + 512, "3 КБ"},
        {1023 * KiB, "1023 КБ"},
        // Just under a megabyte still counts in kilobytes and rounds up in them.
        {MiB - 1, "1024 КБ"},
        {MiB, "1 МБ"},
        {312 * MiB, "312 МБ"},
        {512 * MiB + 300 * KiB, "512,3 МБ"},
        {MiB + MiB / 2, "1,5 МБ"},
        // A carry out of the decimals, and its zero dropped.
        {10 * MiB - 1, "10 МБ"},
        {GiB, "1 ГБ"},
        {2 * GiB + 300 * MiB, "2,29 ГБ"},
        {GiB + GiB / 10, "1,1 ГБ"},
        {1024 * GiB, "1 ТБ"},
        {1024 * 1024 * GiB, "1 ПБ"},
        // Beyond petabytes the count keeps growing in them.
        {UINT64_MAX, "16384 ПБ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(ByteCountFormatter::memory(c.bytes), c.text);
    }
}

}  // namespace
}  // namespace kestrane::platform
