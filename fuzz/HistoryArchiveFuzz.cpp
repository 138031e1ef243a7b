// The usage history file, as another writer (or a damaged disk) may have left it: it either
// decodes, and then writes back to the same archive, or is refused with a DecodingError.
#include "FuzzSupport.h"
#include "history/UsageArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    history::UsageArchive archive;
    try {
        archive = history::decodeArchive(fuzz::asText(data, size));
    } catch (const platform::DecodingError&) {
        return 0;
    }
    std::string encoded;
    try {
        encoded = history::encodeArchive(archive);
    } catch (const std::domain_error&) {
        // A number JSON cannot hold: the store keeps the history in memory and reports it.
        return 0;
    }
    if (history::decodeArchive(encoded) != archive) std::abort();
    return 0;
}
