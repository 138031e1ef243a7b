// Command lines of the user's processes as the services list shows them: secrets masked,
// length capped, the program's name picked out.
#include "FuzzSupport.h"
#include "localservices/LocalServiceCommandDisplay.h"
#include "platform/UnicodeText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane::localservices;
    const auto command = kestrane::fuzz::asText(data, size);
    const std::string shown = LocalServiceCommandDisplay::redact(command);
    // Characters as the user sees them (grapheme clusters), as the cap counts them; and the
    // shown text is always valid UTF-8, whatever bytes the command line held.
    if (kestrane::platform::characterCount(shown) > LocalServiceCommandDisplay::maximumLength)
        std::abort();
    if (kestrane::platform::decodeUtf8Leniently(shown) != shown) std::abort();
    (void)LocalServiceCommandDisplay::readableName(command, "процесс");
    return 0;
}
