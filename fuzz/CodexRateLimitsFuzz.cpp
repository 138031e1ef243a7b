// The Codex account and rate-limit answers turned into windows, and the recent threads into
// models. The input is the account answer, a line feed, then the rate-limit (or thread list)
// answer.
#include "FuzzSupport.h"
#include "platform/Json.h"
#include "providers/codex/CodexClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    const auto text = fuzz::asText(data, size);
    const auto split = text.find('\n');
    if (split == std::string_view::npos) return 0;
    platform::Json account, limits;
    try {
        account = platform::parseJson(text.substr(0, split));
        limits = platform::parseJson(text.substr(split + 1));
    } catch (const platform::DecodingError&) {
        return 0;
    }
    const platform::Date now{1'765'000'000};
    fuzz::rejectingOnlyWithLocalizedErrors(
        [&] { fuzz::checkUsage(providers::CodexClient::usage(account, limits, now)); });
    fuzz::rejectingOnlyWithLocalizedErrors(
        [&] { (void)providers::CodexClient::recentModels(limits, now); });
    (void)providers::CodexClient::lenientDouble(account);
    return 0;
}
