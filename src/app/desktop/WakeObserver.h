#pragma once

#include <QObject>

namespace kestrane::app {

// Tells when the machine woke from sleep, from logind's PrepareForSleep(false) on the system
// bus. Without a system bus it simply never tells.
class WakeObserver : public QObject {
    Q_OBJECT
  public:
    WakeObserver();
    ~WakeObserver() override;

  signals:
    void woke();

  private slots:
    void prepareForSleep(bool sleeping);

  private:
    bool connected_ = false;
};

}  // namespace kestrane::app
