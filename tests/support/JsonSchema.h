#pragma once

#include <string>

#include "support/TempDirectory.h"

namespace kestrane::testing {

// Whether Debian's python3-jsonschema is there to check documents with.
bool hasJsonSchemaChecker();

// Checks `document` against docs/schema/<schema> (Draft 2020-12); empty when it conforms, else
// the validator's complaints and the document. `scratch` holds the document meanwhile.
std::string schemaViolations(const std::string& schema, const std::string& document,
                             const TempDirectory& scratch);

}  // namespace kestrane::testing
