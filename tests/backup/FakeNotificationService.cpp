#include "FakeNotificationService.h"

namespace corvane::test {

uint FakeNotifications::Notify(const QString&, uint, const QString&, const QString&, const QString& body,
                               const QStringList&, const QVariantMap&, int) {
    bodies << body;
    return static_cast<uint>(bodies.size());
}

PrivateSessionBus::PrivateSessionBus() {
    daemon_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                  QStringLiteral("--print-address=1")});
    if (!daemon_.waitForStarted(10000)) return;
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(10000)) {
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateSessionBus::~PrivateSessionBus() {
    for (const QString& name : {QStringLiteral("service"), QStringLiteral("window")})
        QDBusConnection::disconnectFromBus(name);
    daemon_.kill();
    daemon_.waitForFinished(10000);
}

QDBusConnection PrivateSessionBus::Connect(const QString& name) const {
    return QDBusConnection::connectToBus(address_, name);
}

bool PrivateSessionBus::ServeNotifications(FakeNotifications& service) const {
    QDBusConnection bus = Connect(QStringLiteral("service"));
    return bus.registerService(QStringLiteral("org.freedesktop.Notifications")) &&
           bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                              QDBusConnection::ExportAllSlots);
}

}  // namespace corvane::test
