#pragma once

#include <cstdint>
#include <string>

namespace kestrane::platform {

// Sizes of memory as the platform writes them for a person, in Russian.
class ByteCountFormatter {
  public:
    // Binary multiples; whole numbers up to kilobytes, one decimal for megabytes, two above,
    // trailing zeros dropped and a decimal comma: "512 байт", "312 МБ", "2,29 ГБ".
    // The same in every locale of the process.
    static std::string memory(std::uint64_t bytes);
};

}  // namespace kestrane::platform
