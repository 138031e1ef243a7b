#pragma once

#include <string>
#include <string_view>

#include "model/ProviderUsage.h"

namespace kestrane::model {

// Text that comes from outside (services, other programs, files of other tools) as it may be
// shown: ill-formed UTF-8 becomes U+FFFD, every control character (C0, DEL, C1, and the
// Unicode line and paragraph separators) becomes a space, runs of spaces become one, and the
// ends are trimmed. A line break or an escape sequence can then neither forge a line of the
// probe's output nor reach a terminal or a label.
std::string sanitizedText(std::string_view text);

// The usage with every outside text in it sanitised: e-mail, plan, currency, window ids and
// names, model names. Clients pass what they built through this before returning it.
ProviderUsage sanitized(ProviderUsage usage);

}  // namespace kestrane::model
