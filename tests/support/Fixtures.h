#pragma once

#include <exception>
#include <string>

#include "model/Account.h"
#include "platform/Files.h"

namespace kestrane::testing {

// A file under tests/fixtures, e.g. fixture("kimi/usages.json"); the test fails loudly (an
// exception from value()) when it is missing.
inline std::string fixture(const std::string& path) {
    return platform::readFile(std::string(KESTRANE_FIXTURES) + "/" + path, 1 << 20).value();
}

// A fetch that answers by provider, whichever of its accounts is asked.
template <typename Answer>
auto byProvider(Answer answer) {
    return [answer](const model::Account& account) { return answer(account.key.provider); };
}

// What `action` threw, or "no error".
template <typename Action>
std::string errorOf(Action action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

}  // namespace kestrane::testing
