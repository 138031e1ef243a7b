#pragma once

#include <QObject>
#include <QTimer>

class QDBusServiceWatcher;

namespace kestrane::app {

// Whether a tray exists to put icons in, and the moment one appears: a StatusNotifierItem
// host (its watcher on the session bus, with a host registered) or, on X11, an XEmbed tray.
// A program started at login often comes up before the panel does.
//
// Qt decides between StatusNotifierItem and XEmbed once per process, the first time a tray
// icon is made or its availability asked, and keeps that answer. So the bus is asked here
// first, and Qt only once a host is known or when no bus could ever bring one.
class TrayAvailabilityWatcher final : public QObject {
    Q_OBJECT
  public:
    // How often to look again while no tray exists (some trays announce nothing).
    static constexpr int pollInterval = 1000;

    explicit TrayAvailabilityWatcher(QObject* parent = nullptr);
    ~TrayAvailabilityWatcher() override;

    bool isAvailable() const { return available_; }

  signals:
    // Once, when a tray first turns up.
    void appeared();

  private slots:
    void check();

  private:
    bool statusNotifierHostRegistered() const;

    bool available_ = false;
    QTimer poll_;
    QDBusServiceWatcher* serviceWatcher_ = nullptr;
};

}  // namespace kestrane::app
