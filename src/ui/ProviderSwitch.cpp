#include "ui/ProviderSwitch.h"

#include "platform/PlatformWords.h"

namespace kestrane::ui {

namespace {

QString displayName(model::ProviderKind provider) {
    const std::string_view name = model::rawValue(provider);
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

ProviderSwitch::ProviderSwitch(model::ProviderKind provider, QWidget* parent)
    : PanelSwitch(
          QString::fromStdString(platform::showInTrayLabel(std::string(model::rawValue(provider)))),
          parent),
      provider_(provider) {
    setObjectName(QStringLiteral("provider-toggle-") + displayName(provider));
}

}  // namespace kestrane::ui
