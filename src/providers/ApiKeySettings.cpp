#include "providers/ApiKeySettings.h"

#include "model/QuotaError.h"
#include "platform/TextConversions.h"
#include "providers/ApiKeys.h"
#include "providers/minimax/MiniMaxClient.h"
#include "providers/openrouter/OpenRouterClient.h"
#include "providers/zai/ZaiClient.h"

namespace kestrane::providers {
namespace {

using model::ProviderKind;
using Status = platform::SecretStore::Status;

const char* const kNotOneLine = "Ключ API пишется одной строкой, без пробелов.";

ApiKey loadKey(ProviderKind kind, const ProviderContext& context) {
    switch (kind) {
        case ProviderKind::zai:
            return ZaiClient::loadKey(context.environment, context.secrets);
        case ProviderKind::minimax:
            return MiniMaxClient::loadKey(context.environment, context.secrets);
        case ProviderKind::openrouter:
            return OpenRouterClient::loadKey(context.environment, context.secrets);
        default:
            break;
    }
    throw model::QuotaError::unavailable("Этот провайдер входит без ключа API.");
}

std::string unavailableText(ProviderKind kind) {
    return "Служба ключей недоступна: задайте переменную " + std::string(apiKeyVariable(kind)) +
           ".";
}

}  // namespace

bool usesApiKey(ProviderKind kind) { return !apiKeyVariable(kind).empty(); }

std::string_view apiKeyVariable(ProviderKind kind) {
    switch (kind) {
        case ProviderKind::zai:
            return ZaiClient::apiKeyVariable;
        case ProviderKind::minimax:
            return MiniMaxClient::apiKeyVariable;
        case ProviderKind::openrouter:
            return OpenRouterClient::apiKeyVariable;
        default:
            return {};
    }
}

ApiKeyRowState apiKeyRowState(ProviderKind kind, const ProviderContext& context) {
    ApiKeyRowState state;
    state.keyring = context.secrets.lookup(model::commandName(kind)).status;
    state.canStore = state.keyring != Status::unavailable;
    try {
        state.place = loadKey(kind, context).place;
    } catch (const model::QuotaError&) {
        // No usable key anywhere: the keyring's state says why.
    }
    if (state.place && state.keyring != Status::ok) {
        state.text = "Ключ берётся " + *state.place + ".";
        return state;
    }
    switch (state.keyring) {
        case Status::ok:
            if (!state.place) {
                state.text = "Ключ в связке ключей повреждён: введите его заново.";
            } else if (*state.place == "из связки ключей") {
                state.text = "Ключ хранится в связке ключей.";
            } else {
                state.text =
                    "Ключ хранится в связке ключей, но сейчас берётся " + *state.place + ".";
            }
            break;
        case Status::notFound:
            state.text = "Ключ не задан.";
            break;
        case Status::locked:
            state.text = "Связка ключей заблокирована: разблокируйте её, чтобы прочитать ключ.";
            break;
        case Status::unavailable:
            state.text = unavailableText(kind);
            break;
        case Status::failed:
            state.text = "Не удалось прочитать связку ключей.";
            break;
    }
    return state;
}

ApiKeyChange storeApiKey(ProviderKind kind, std::string_view key,
                         const platform::SecretStore& secrets) {
    const std::string trimmed = platform::trimmedWhitespace(key);
    if (!isUsableApiKey(trimmed)) return {false, kNotOneLine};
    switch (secrets.store(model::commandName(kind), apiKeyLabel(kind), trimmed)) {
        case Status::ok:
            return {true, "Ключ сохранён в связке ключей."};
        case Status::locked:
            return {false, "Связка ключей не разблокирована: ключ не сохранён."};
        case Status::unavailable:
            return {false, unavailableText(kind)};
        case Status::notFound:
        case Status::failed:
            break;
    }
    return {false, "Не удалось сохранить ключ в связке ключей. Повторите позже."};
}

ApiKeyChange removeApiKey(ProviderKind kind, const platform::SecretStore& secrets) {
    switch (secrets.remove(model::commandName(kind))) {
        case Status::ok:
        case Status::notFound:
            return {true, "Ключ удалён из связки ключей."};
        case Status::locked:
            return {false, "Связка ключей не разблокирована: ключ не удалён."};
        case Status::unavailable:
            return {false, unavailableText(kind)};
        case Status::failed:
            break;
    }
    return {false, "Не удалось удалить ключ из связки ключей. Повторите позже."};
}

model::FetchResult checkApiKey(ProviderKind kind, std::string_view key,
                               const ProviderContext& context) {
    return guardedFetch(kind, [&] {
        const std::string trimmed = platform::trimmedWhitespace(key);
        if (!isUsableApiKey(trimmed)) throw model::QuotaError::unavailable(kNotOneLine);
        const ApiKey typed{trimmed, "из настроек Kestrane", std::nullopt};
        switch (kind) {
            case ProviderKind::zai:
                return model::FetchResult::success(
                    ZaiClient(context.environment, context.clock, context.secrets).fetch(typed));
            case ProviderKind::minimax:
                return model::FetchResult::success(
                    MiniMaxClient(context.environment, context.clock, context.secrets)
                        .fetch(typed));
            case ProviderKind::openrouter:
                return model::FetchResult::success(
                    OpenRouterClient(context.environment, context.clock, context.secrets)
                        .fetch(typed));
            default:
                break;
        }
        throw model::QuotaError::unavailable("Этот провайдер входит без ключа API.");
    });
}

}  // namespace kestrane::providers
