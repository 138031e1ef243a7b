#include "platform/PlatformWords.h"

namespace kestrane::platform {

std::string localServicesSubtitle() { return "Процессы на этом компьютере"; }

std::string trayServicesTitle() { return "Сервисы в трее"; }

std::string showInTrayLabel(const std::string& providerName) {
    return "Показывать " + providerName + " в трее";
}

}  // namespace kestrane::platform
