#pragma once
// Tells the desktop's notification service (freedesktop notifications over D-Bus) what a user
// doing something else should know, such as "insert another disc". Without a session bus or
// without a service on it nothing happens, and a notification never waits for the service.

#include <QDBusConnection>
#include <QString>

namespace corvane {

class DesktopNotifier {
public:
    DesktopNotifier();  // on the session bus
    explicit DesktopNotifier(QDBusConnection bus);
    void Notify(const QString& summary, const QString& body) const;

private:
    QDBusConnection bus_;
};

}  // namespace corvane
