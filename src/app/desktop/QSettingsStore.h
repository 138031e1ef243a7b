#pragma once

#include <QSettings>

#include "platform/SettingsStore.h"

namespace kestrane::app {

// The user's preference store: QSettings of organisation and application "Kestrane"
// (~/.config/Kestrane/Kestrane.conf on Linux). Each value is kept as JSON text, because the
// INI format would hand booleans and nested dictionaries back as strings. Every write is
// flushed at once: the program may end without unwinding.
class QSettingsStore final : public platform::SettingsStore {
  public:
    QSettingsStore();
    // For tests: a store in one file.
    explicit QSettingsStore(const QString& fileName);

    std::optional<platform::Json> value(std::string_view key) const override;
    void setValue(std::string_view key, const platform::Json& value) override;

  private:
    mutable QSettings settings_;
};

}  // namespace kestrane::app
