#pragma once

#include <cstdint>
#include <string_view>

namespace kestrane::forecast {

// SplitMix64: tiny, allocation-free and identical on every platform, so a forecast is
// reproducible bit for bit from its seed.
struct ForecastRandom {
    static constexpr std::uint64_t increment = 0x9E3779B97F4A7C15ULL;

    std::uint64_t state = 0;

    // The output function applied to a state.
    static constexpr std::uint64_t mix(std::uint64_t z) {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 53 random bits mapped strictly between 0 and 1.
    static constexpr double uniform(std::uint64_t bits) {
        return (static_cast<double>(bits >> 11) + 0.5) * 0x1.0p-53;
    }

    constexpr std::uint64_t nextBits() {
        state += increment;
        return mix(state);
    }
    constexpr double next() { return uniform(nextBits()); }
};

// 64-bit FNV-1a over the bytes of `text`.
constexpr std::uint64_t fnv1a64(std::string_view text) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ULL;
    }
    return hash;
}

}  // namespace kestrane::forecast
