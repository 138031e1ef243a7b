#pragma once

#include <memory>

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

namespace kestrane::app {

// One running program per session. The first start takes the well-known name
// io.github.kestrane.Kestrane on the session bus and serves its Activate method; a later
// start finds the name taken, calls Activate (the running program opens its panel) and ends.
// Without a session bus a lock file and a local socket in $XDG_RUNTIME_DIR do the same.
class SingleInstance final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.kestrane.Kestrane")
  public:
    static constexpr const char* busName = "io.github.kestrane.Kestrane";
    static constexpr const char* objectPath = "/io/github/kestrane/Kestrane";

    enum class Outcome {
        // This is the one instance: `activated` tells when another start asks for it.
        first,
        // Another instance runs and was asked to open its panel.
        handedOver,
        // Another instance holds the name but did not answer.
        unreachable,
    };

    // `runtimeDirectory`: where the socket and its lock go when there is no bus.
    explicit SingleInstance(QString runtimeDirectory, QObject* parent = nullptr);
    ~SingleInstance() override;

    Outcome claim();

  public slots:
    // Called over the bus by a later start.
    Q_SCRIPTABLE void Activate();

  signals:
    void activated();

  private:
    Outcome claimOnBus();
    Outcome claimSocket();

    QString runtimeDirectory_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

}  // namespace kestrane::app
