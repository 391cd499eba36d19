#include "app/qt/logind_system_services.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace keluflash {

void LogindSystemServices::RequestRestart() {
    QDBusMessage reboot = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Reboot"));
    reboot << true;  // interactive: polkit may ask for a password
    reboot.setInteractiveAuthorizationAllowed(true);
    // The answer does not matter: a granted request ends this session, a
    // refused one leaves the program running.
    QDBusConnection::systemBus().call(reboot, QDBus::Block, 120000);
}

}  // namespace keluflash

namespace keluflash {

void LogindSystemServices::UpdateBegins() {
    m_inhibitor.Hold("keluflash", "A drive's firmware is being written");
}

void LogindSystemServices::UpdateEnds() { m_inhibitor.Release(); }

}  // namespace keluflash
