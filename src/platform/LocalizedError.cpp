#include "platform/LocalizedError.h"

namespace kestrane::platform {

DecodingError::DecodingError()
    : LocalizedError("Не удалось прочитать данные, так как они имеют неверный формат.") {}

}  // namespace kestrane::platform
