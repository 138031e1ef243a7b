#include "support/JsonSchema.h"

#include <filesystem>

#include "support/ProcessRun.h"

namespace kestrane::testing {
namespace {

constexpr const char* python = "/usr/bin/python3";

}  // namespace

bool hasJsonSchemaChecker() {
    return runProcess(python, {"-c", "import jsonschema"}, {{"PATH", "/usr/bin:/bin"}})
               .exitStatus == 0;
}

std::string schemaViolations(const std::string& schema, const std::string& document,
                             const TempDirectory& scratch) {
    const std::filesystem::path schemas =
        std::filesystem::path(KESTRANE_FIXTURES).parent_path().parent_path() / "docs/schema";
    const auto instance = scratch.write("instance.json", document);
    const auto result =
        runProcess(python,
                   {"-c",
                    "import json, sys, jsonschema\n"
                    "schema = json.load(open(sys.argv[1]))\n"
                    "instance = json.load(open(sys.argv[2]))\n"
                    "jsonschema.Draft202012Validator.check_schema(schema)\n"
                    "errors = list(jsonschema.Draft202012Validator(schema).iter_errors(instance))\n"
                    "for e in errors: print(list(e.absolute_path), e.message)\n"
                    "sys.exit(1 if errors else 0)\n",
                    (schemas / schema).string(), instance.string()},
                   {{"PATH", "/usr/bin:/bin"}});
    if (result.exitStatus == 0) return "";
    return result.standardOutput + result.standardError + "in: " + document;
}

}  // namespace kestrane::testing
