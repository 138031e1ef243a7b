#pragma once

#include <string>

namespace kestrane::providers {

// What to tell a user on whose machine no `codex` executable was found. The desktop
// application that carries one exists only for some systems.
std::string codexNotFoundMessage();

}  // namespace kestrane::providers
