#include "platform/IcuSystemData.h"

#include <dlfcn.h>

#include <unicode/udata.h>
#include <unicode/utypes.h>

#include <cstdint>

#define KESTRANE_STRINGIFY_EXPANDED(x) #x
#define KESTRANE_STRINGIFY(x) KESTRANE_STRINGIFY_EXPANDED(x)

// ICU's code refers to its linked-in data by this name (icudtNN_dat). The program links the
// code without the data archive, so this empty table of contents stands in for it, laid out
// as ICU's own stub library lays it out: a valid header with no entries, which ICU skips
// after the data attached below.
namespace {

struct EmptyCommonData {
    std::uint16_t headerSize;
    std::uint8_t magic1;
    std::uint8_t magic2;
    UDataInfo info;
    char padding[8];
    std::uint32_t count;
    std::uint32_t reserved;
};

}  // namespace

extern "C" const EmptyCommonData U_ICUDATA_ENTRY_POINT;
extern "C" const EmptyCommonData U_ICUDATA_ENTRY_POINT = {
    .headerSize = 32,
    .magic1 = 0xda,
    .magic2 = 0x27,
    .info = {.size = sizeof(UDataInfo),
             .reservedWord = 0,
             .isBigEndian = U_IS_BIG_ENDIAN,
             .charsetFamily = U_CHARSET_FAMILY,
             .sizeofUChar = sizeof(UChar),
             .reservedByte = 0,
             .dataFormat = {0x54, 0x6f, 0x43, 0x50},  // "ToCP": a table of pointers
             .formatVersion = {1, 0, 0, 0},
             .dataVersion = {0, 0, 0, 0}},
    .padding = {},
    .count = 0,
    .reserved = 0,
};

namespace kestrane::platform {

bool attachSystemIcuData() {
    // The library of the ICU version the program was built against: libicudata.so.NN. It
    // stays open for the life of the process.
    void* library = ::dlopen("libicudata.so." KESTRANE_STRINGIFY(U_ICU_VERSION_MAJOR_NUM),
                             RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return false;
    const void* data = ::dlsym(library, KESTRANE_STRINGIFY(U_ICUDATA_ENTRY_POINT));
    if (data == nullptr) return false;
    UErrorCode status = U_ZERO_ERROR;
    udata_setCommonData(data, &status);
    return U_SUCCESS(status);
}

}  // namespace kestrane::platform
