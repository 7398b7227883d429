#pragma once
// A private D-Bus session bus (its own dbus-daemon) with a stand-in for the desktop's
// notification service that keeps what it was told.

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>

namespace corvane::test {

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList bodies;  // in the order they came

public slots:
    uint Notify(const QString& application, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout);
};

class PrivateSessionBus {
public:
    PrivateSessionBus();  // starts the bus; address() is empty when it could not be started
    ~PrivateSessionBus();
    const QString& address() const { return address_; }
    // A new connection to the bus; each name is a connection of its own.
    QDBusConnection Connect(const QString& name) const;
    // Puts the notification service on the bus; false when the name could not be taken.
    bool ServeNotifications(FakeNotifications& service) const;

private:
    QProcess daemon_;
    QString address_;
};

}  // namespace corvane::test
