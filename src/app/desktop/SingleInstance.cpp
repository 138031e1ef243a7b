#include "app/desktop/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace kestrane::app {

namespace {

constexpr int answerWait = 5000;
const QByteArray activateRequest = QByteArrayLiteral("activate\n");
const QByteArray activateAnswer = QByteArrayLiteral("ok\n");

}  // namespace

SingleInstance::SingleInstance(QString runtimeDirectory, QObject* parent)
    : QObject(parent), runtimeDirectory_(std::move(runtimeDirectory)) {}

SingleInstance::~SingleInstance() = default;

void SingleInstance::Activate() { emit activated(); }

SingleInstance::Outcome SingleInstance::claim() {
    if (QDBusConnection::sessionBus().isConnected()) return claimOnBus();
    return claimSocket();
}

SingleInstance::Outcome SingleInstance::claimOnBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // The method is there before the name, so a start that finds the name can always call it.
    bus.registerObject(QString::fromLatin1(objectPath), this,
                       QDBusConnection::ExportScriptableSlots);
    const auto reply = bus.interface()->registerService(
        QString::fromLatin1(busName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        return Outcome::first;
    }
    bus.unregisterObject(QString::fromLatin1(objectPath));
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(busName), QString::fromLatin1(objectPath), QString::fromLatin1(busName),
        QStringLiteral("Activate"));
    const QDBusMessage answer = bus.call(call, QDBus::Block, answerWait);
    return answer.type() == QDBusMessage::ReplyMessage ? Outcome::handedOver : Outcome::unreachable;
}

SingleInstance::Outcome SingleInstance::claimSocket() {
    QDir directory(runtimeDirectory_);
    const QString socketPath = directory.filePath(QStringLiteral("kestrane.socket"));
    lock_ = std::make_unique<QLockFile>(directory.filePath(QStringLiteral("kestrane.lock")));
    // A lock left by a program that died is taken over (QLockFile checks the process).
    if (lock_->tryLock(0)) {
        QLocalServer::removeServer(socketPath);
        server_ = new QLocalServer(this);
        server_->setSocketOptions(QLocalServer::UserAccessOption);
        server_->listen(socketPath);
        connect(server_, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* peer = server_->nextPendingConnection()) {
                connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                    if (!peer->canReadLine()) {
                        // Only one short line is ever expected.
                        if (peer->bytesAvailable() > 64) peer->abort();
                        return;
                    }
                    if (peer->readLine(64) == activateRequest) {
                        peer->write(activateAnswer);
                        peer->flush();
                        emit activated();
                    }
                    peer->disconnectFromServer();
                });
            }
        });
        return Outcome::first;
    }
    lock_.reset();
    // The holder may be starting up and not listening yet: a few tries over a few seconds.
    for (int attempt = 0; attempt < 10; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(500)) {
            socket.write(activateRequest);
            if (socket.waitForBytesWritten(answerWait) && socket.waitForReadyRead(answerWait) &&
                socket.readLine(64) == activateAnswer) {
                return Outcome::handedOver;
            }
            return Outcome::unreachable;
        }
        QLockFile probe(directory.filePath(QStringLiteral("kestrane.lock")));
        if (probe.tryLock(300)) {
            // The holder has gone meanwhile: this start becomes the one.
            probe.unlock();
            return claimSocket();
        }
    }
    return Outcome::unreachable;
}

}  // namespace kestrane::app
