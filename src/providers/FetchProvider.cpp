#include "providers/FetchProvider.h"

#include <new>

#include "model/QuotaError.h"
#include "providers/antigravity/AntigravityClient.h"
#include "providers/claude/ClaudeClient.h"
#include "providers/codex/CodexClient.h"
#include "providers/copilot/CopilotClient.h"
#include "providers/cursor/CursorClient.h"
#include "providers/gemini/GeminiClient.h"
#include "providers/kimi/KimiClient.h"
#include "providers/minimax/MiniMaxClient.h"
#include "providers/openrouter/OpenRouterClient.h"
#include "providers/zai/ZaiClient.h"

namespace kestrane::providers {
namespace {

model::ProviderUsage fetchUsage(model::ProviderKind kind, const ProviderContext& context) {
    switch (kind) {
        case model::ProviderKind::codex:
            return providers::CodexClient(context.environment, context.clock).fetch();
        case model::ProviderKind::cursor:
            return providers::CursorClient(context.environment, context.clock).fetch();
        case model::ProviderKind::claude:
            return providers::ClaudeClient(context.environment, context.clock).fetch();
        case model::ProviderKind::kimi:
            return providers::KimiClient(context.environment, context.clock).fetch();
        case model::ProviderKind::antigravity:
            return providers::AntigravityClient(context.clock).fetch();
        case model::ProviderKind::copilot:
            return providers::CopilotClient(context.environment, context.clock).fetch();
        case model::ProviderKind::gemini:
            return providers::GeminiClient(context.environment, context.clock).fetch();
        case model::ProviderKind::zai:
            return providers::ZaiClient(context.environment, context.clock, context.secrets)
                .fetch();
        case model::ProviderKind::minimax:
            return providers::MiniMaxClient(context.environment, context.clock, context.secrets)
                .fetch();
        case model::ProviderKind::openrouter:
            return providers::OpenRouterClient(context.environment, context.clock, context.secrets)
                .fetch();
    }
    throw model::QuotaError::unavailable("Провайдер пока не поддерживается.");
}

}  // namespace

model::FetchResult fetchProvider(model::ProviderKind kind, const ProviderContext& context) {
    return guardedFetch(kind,
                        [&] { return model::FetchResult::success(fetchUsage(kind, context)); });
}

model::FetchResult fetchAccount(const model::Account& account, const ProviderContext& context) {
    // Accounts beside the default one are read from where they were found.
    return fetchProvider(account.key.provider, context);
}

model::FetchResult guardedFetch(model::ProviderKind kind,
                                const std::function<model::FetchResult()>& fetch) {
    try {
        return fetch();
    } catch (const platform::LocalizedError& error) {
        return model::FetchResult::failure(kind, error.what());
    } catch (const std::bad_alloc&) {
        return model::FetchResult::failure(kind, "Недостаточно памяти.");
    } catch (...) {
        return model::FetchResult::failure(kind, "Произошла непредвиденная ошибка.");
    }
}

}  // namespace kestrane::providers
