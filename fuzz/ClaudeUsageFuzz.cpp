// The Claude usage endpoint's answer.
#include "FuzzSupport.h"
#include "providers/claude/ClaudeClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        fuzz::checkUsage(providers::ClaudeClient::parseUsage(
            fuzz::asText(data, size), std::string("Pro"), platform::Date{1'765'000'000}));
    });
    return 0;
}
