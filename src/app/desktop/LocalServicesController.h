#pragma once

#include <QObject>

#include "app/desktop/BackgroundRunner.h"
#include "app/desktop/LocalServicesBackend.h"
#include "platform/Clock.h"

namespace kestrane::app {

// The services screen's work: scans the local services and stops one (stop, pause, rescan)
// on worker threads, at most one scan or stop at a time, and keeps what the screen shows.
// Tells `changed` whenever the state did.
class LocalServicesController : public QObject {
    Q_OBJECT
  public:
    LocalServicesController(LocalServicesBackend backend, BackgroundRunner runInBackground,
                            const platform::Clock& clock);

    // Ignored while a scan or stop runs, and after shutDown.
    void load();
    void stop(const LocalService& service);
    // At the end of the application: what work still running hands back is dropped.
    void shutDown();

    const LocalServicesViewState& state() const { return state_; }
    bool isScanRunning() const { return scanRunning_; }
    bool isStopRunning() const { return stopRunning_; }

  signals:
    void changed();

  private:
    bool isBusy() const { return scanRunning_ || stopRunning_ || shutDown_; }

    LocalServicesBackend backend_;
    BackgroundRunner runInBackground_;
    const platform::Clock& clock_;
    LocalServicesViewState state_;
    bool scanRunning_ = false;
    bool stopRunning_ = false;
    bool shutDown_ = false;
};

}  // namespace kestrane::app
