// The Cursor dashboard's usage summary and account answers.
#include "FuzzSupport.h"
#include "providers/cursor/CursorClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    const auto text = fuzz::asText(data, size);
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        fuzz::checkUsage(providers::CursorClient::parseSummary(text, std::nullopt,
                                                               platform::Date{1'765'000'000}));
    });
    // The account answer never fails a fetch, so it must never throw at all.
    (void)providers::CursorClient::parseAccountEmail(text);
    return 0;
}
