// The Cursor editor's stored access token (a JSON Web Token) and the cookie made from it.
#include "FuzzSupport.h"
#include "platform/Base64.h"
#include "providers/cursor/CursorAuth.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    const providers::CursorAuth auth{std::string(fuzz::asText(data, size))};
    fuzz::rejectingOnlyWithLocalizedErrors([&] { (void)auth.expiresAt(); });
    fuzz::rejectingOnlyWithLocalizedErrors([&] { auth.requireUnexpired(platform::Date{0}); });
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        // The cookie goes into a header line: nothing that could end or split it.
        const std::string cookie = auth.cookie();
        for (const char c : cookie) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x21 || byte > 0x7E || c == ';' || c == ',') std::abort();
        }
    });
    (void)platform::decodeBase64(fuzz::asText(data, size));
    return 0;
}
