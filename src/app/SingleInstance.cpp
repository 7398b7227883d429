#include "app/SingleInstance.h"

#include <unistd.h>

#include <QDir>
#include <QLocalSocket>

namespace corvane {

namespace {

constexpr int kConnectTimeoutMs = 500;

QByteArray RaiseMessage(quint32 key) {
    return QByteArray("WM_RAISE_INSTANCE ") + QByteArray::number(key) + '\n';
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::ReadMessage);
}

QString SingleInstance::ServerName() {
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime + QStringLiteral("/corvane.instance");
    return QStringLiteral("corvane-%1.instance").arg(::getuid());
}

bool SingleInstance::BecomeFirst() {
    QLocalSocket probe;
    probe.connectToServer(ServerName());
    if (probe.waitForConnected(kConnectTimeoutMs)) return false;
    // Nobody answers: a socket left by a crashed instance is stale.
    QLocalServer::removeServer(ServerName());
    return server_.listen(ServerName());
}

bool SingleInstance::SendRaise(quint32 key) {
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
    socket.write(RaiseMessage(key));
    bool sent = socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return sent;
}

void SingleInstance::ReadMessage() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        auto readLines = [this, socket] {
            const QByteArray prefix("WM_RAISE_INSTANCE ");
            while (socket->canReadLine()) {
                QByteArray line = socket->readLine().trimmed();
                if (!line.startsWith(prefix)) continue;
                bool ok = false;
                quint32 key = line.mid(prefix.size()).toUInt(&ok);
                if (ok) emit raiseRequested(key);
            }
        };
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, readLines);
        readLines();  // what arrived before the connection was taken
    }
}

}  // namespace corvane
