#include "platform/PlatformWords.h"

namespace kestrane::platform {

std::string localServicesSubtitle() { return "Процессы на этом Mac"; }

std::string trayServicesTitle() { return "Сервисы в строке меню"; }

std::string showInTrayLabel(const std::string& providerName) {
    return "Показывать " + providerName + " в строке меню";
}

}  // namespace kestrane::platform
