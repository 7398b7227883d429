#include "platform/DesktopNotifier.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace corvane {

DesktopNotifier::DesktopNotifier() : DesktopNotifier(QDBusConnection::sessionBus()) {}

DesktopNotifier::DesktopNotifier(QDBusConnection bus) : bus_(std::move(bus)) {}

void DesktopNotifier::Notify(const QString& summary, const QString& body) const {
    if (!bus_.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Application name, no notification to replace, the program's icon, texts, no actions, no
    // hints, and the service's own time-out.
    call << QStringLiteral("Corvane") << 0u << QStringLiteral("corvane") << summary << body << QStringList()
         << QVariantMap() << -1;
    bus_.send(call);
}

}  // namespace corvane
