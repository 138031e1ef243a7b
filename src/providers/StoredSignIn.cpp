#include "providers/StoredSignIn.h"

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

bool hasStoredSignIn(model::ProviderKind kind, const ProviderContext& context) {
    try {
        switch (kind) {
            case model::ProviderKind::codex:
                return CodexClient::hasStoredSignIn(context.environment);
            case model::ProviderKind::cursor:
                return CursorClient::hasStoredSignIn(context.environment);
            case model::ProviderKind::claude:
                return ClaudeClient::hasStoredSignIn(context.environment);
            case model::ProviderKind::kimi:
                return KimiClient::hasStoredSignIn(context.environment);
            case model::ProviderKind::antigravity:
                return AntigravityClient::hasStoredSignIn(context.environment);
            case model::ProviderKind::copilot:
                return copilotHasSignIn(context.environment);
            case model::ProviderKind::gemini:
                return geminiHasSignIn(context.environment);
            case model::ProviderKind::zai:
                return ZaiClient::hasKey(context.environment, context.secrets);
            case model::ProviderKind::minimax:
                return MiniMaxClient::hasKey(context.environment, context.secrets);
            case model::ProviderKind::openrouter:
                return OpenRouterClient::hasKey(context.environment, context.secrets);
        }
    } catch (...) {
        // Out of memory, or a home folder that cannot be named: nothing found.
    }
    return false;
}

}  // namespace kestrane::providers
