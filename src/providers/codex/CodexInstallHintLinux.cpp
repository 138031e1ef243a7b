#include "providers/codex/CodexInstallHint.h"

namespace kestrane::providers {

std::string codexNotFoundMessage() {
    return "Codex не найден. Установите Codex (npm install -g @openai/codex).";
}

}  // namespace kestrane::providers
