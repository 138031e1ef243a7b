#include "platform/Json.h"

#include <cmath>
#include <limits>

#include "platform/TextConversions.h"

namespace kestrane::platform {
namespace {

constexpr int kMaxDepth = 128;

bool nestingWithinLimit(std::string_view text) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
            case '"':
                inString = true;
                break;
            case '[':
            case '{':
                if (++depth > kMaxDepth) return false;
                break;
            case ']':
            case '}':
                --depth;
                break;
            default:
                break;
        }
    }
    return true;
}

const Json* member(const Json& object, std::string_view key) {
    if (!object.is_object()) throw DecodingError();
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

}  // namespace

Json parseJson(std::string_view text) {
    if (!nestingWithinLimit(text)) throw DecodingError();
    Json value = Json::parse(text, nullptr, false);
    if (value.is_discarded()) throw DecodingError();
    return value;
}

std::optional<std::string> stringMember(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    if (!value->is_string()) throw DecodingError();
    return value->get<std::string>();
}

std::optional<double> numberMember(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    if (!value->is_number()) throw DecodingError();
    return value->get<double>();
}

std::optional<std::int64_t> integerMember(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    // is_number_integer() also holds for unsigned values, so those are checked first.
    if (value->is_number_unsigned()) {
        const auto unsignedValue = value->get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            throw DecodingError();
        }
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (value->is_number_integer()) return value->get<std::int64_t>();
    if (value->is_number_float()) {
        if (const auto whole = wholeInteger(value->get<double>())) return whole;
    }
    throw DecodingError();
}

std::optional<bool> boolMember(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    if (!value->is_boolean()) throw DecodingError();
    return value->get<bool>();
}

const Json* objectMember(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (value && !value->is_object()) throw DecodingError();
    return value;
}

const Json* arrayMember(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (value && !value->is_array()) throw DecodingError();
    return value;
}

const Json& requireObject(const Json& value) {
    if (!value.is_object()) throw DecodingError();
    return value;
}

}  // namespace kestrane::platform
