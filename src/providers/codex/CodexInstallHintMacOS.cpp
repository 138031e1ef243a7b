#include "providers/codex/CodexInstallHint.h"

namespace kestrane::providers {

std::string codexNotFoundMessage() {
    return "Codex не найден. Установите Codex или приложение ChatGPT.";
}

}  // namespace kestrane::providers
