#pragma once

namespace kestrane::platform {

// For a program that carries ICU's code linked in but not its 30 MB of data (kestrane-cli,
// which a bar starts every few seconds: binding ICU as a shared library is about a fifth
// of its start). The data stays the system's shared library, opened here and handed to ICU. Call
// once at the start of main(), before anything uses ICU; false when the system's data library
// cannot be opened (ICU then formats no dates at all).
bool attachSystemIcuData();

}  // namespace kestrane::platform
