#include "app/desktop/QSettingsStore.h"

namespace kestrane::app {

namespace {

QString keyText(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

// A preference is a few hundred bytes; a huge value is not ours and is not parsed.
constexpr qsizetype maximumValueBytes = 64 * 1024;

}  // namespace

QSettingsStore::QSettingsStore()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kestrane"),
                QStringLiteral("Kestrane")) {}

QSettingsStore::QSettingsStore(const QString& fileName)
    : settings_(fileName, QSettings::IniFormat) {}

std::optional<platform::Json> QSettingsStore::value(std::string_view key) const {
    const QVariant stored = settings_.value(keyText(key));
    if (!stored.isValid()) return std::nullopt;
    const QByteArray text = stored.toString().toUtf8();
    if (text.size() > maximumValueBytes) return platform::Json("");
    try {
        return platform::parseJson(std::string_view(text.constData(), text.size()));
    } catch (const std::exception&) {
        // Not ours or edited by hand: the reader sees a plain string and treats it as such.
        return platform::Json(text.toStdString());
    }
}

void QSettingsStore::setValue(std::string_view key, const platform::Json& value) {
    settings_.setValue(keyText(key), QString::fromStdString(value.dump()));
    settings_.sync();
}

}  // namespace kestrane::app
