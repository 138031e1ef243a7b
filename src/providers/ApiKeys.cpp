#include "providers/ApiKeys.h"

#include "model/QuotaError.h"
#include "platform/TextConversions.h"

namespace kestrane::providers {

using model::QuotaError;
using Status = platform::SecretStore::Status;

bool isUsableApiKey(std::string_view text) {
    return platform::isVisibleAsciiToken(text, kMaxApiKeyBytes);
}

std::optional<ApiKey> variableApiKey(const std::optional<std::string>& value,
                                     std::string_view variable) {
    if (!value) return std::nullopt;
    std::string trimmed = platform::trimmedWhitespace(*value);
    if (trimmed.empty()) return std::nullopt;
    if (!isUsableApiKey(trimmed)) {
        throw QuotaError::unavailable("Переменная " + std::string(variable) +
                                      " задана неверно: ключ API пишется одной строкой, без "
                                      "пробелов.");
    }
    return ApiKey{std::move(trimmed), "из переменной " + std::string(variable), std::nullopt};
}

ApiKey storedApiKey(const platform::SecretStore& secrets, model::ProviderKind kind,
                    std::string_view variable) {
    const std::string name(model::rawValue(kind));
    const std::string orVariable = "задайте переменную " + std::string(variable) + ".";
    auto lookup = secrets.lookup(model::commandName(kind));
    switch (lookup.status) {
        case Status::ok: {
            std::string key = platform::trimmedWhitespace(lookup.secret);
            if (!isUsableApiKey(key)) {
                throw QuotaError::unavailable("Ключ API " + name +
                                              " в связке ключей повреждён. Введите его заново в "
                                              "настройках Kestrane.");
            }
            return ApiKey{std::move(key), "из связки ключей", std::nullopt};
        }
        case Status::notFound:
            throw QuotaError::unavailable("Ключ API " + name +
                                          " не найден. Введите его в настройках Kestrane или " +
                                          orVariable);
        case Status::locked:
            throw QuotaError::unavailable("Связка ключей заблокирована, ключ API " + name +
                                          " не прочитан. Разблокируйте её или " + orVariable);
        case Status::unavailable:
            throw QuotaError::unavailable("Ключ API " + name +
                                          " не найден, а служба ключей недоступна: " + orVariable);
        case Status::failed:
            break;
    }
    throw QuotaError::unavailable("Не удалось прочитать ключ API " + name +
                                  " из связки ключей. Повторите позже или " + orVariable);
}

std::string apiKeyLabel(model::ProviderKind kind) {
    return "Kestrane: ключ API " + std::string(model::rawValue(kind));
}

}  // namespace kestrane::providers
