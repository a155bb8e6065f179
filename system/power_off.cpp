// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/power_off.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>

bool LogindPowerOff::PowerOffNow(QString* reason) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        *reason = QStringLiteral("无法连接系统总线（D-Bus）");
        return false;
    }
    QDBusInterface login1(QStringLiteral("org.freedesktop.login1"),
                          QStringLiteral("/org/freedesktop/login1"),
                          QStringLiteral("org.freedesktop.login1.Manager"), bus);
    if (!login1.isValid()) {
        *reason = QStringLiteral("找不到 systemd-logind 服务");
        return false;
    }
    const QDBusReply<QString> can = login1.call(QStringLiteral("CanPowerOff"));
    if (!can.isValid()) {
        *reason = can.error().message();
        return false;
    }
    // "yes" powers off at once; "challenge" asks for authorisation, which a program
    // counting down unattended cannot give; "no" and "na" refuse.
    if (can.value() != QLatin1String("yes")) {
        *reason = QStringLiteral("系统不允许本程序关机（CanPowerOff: %1）").arg(can.value());
        return false;
    }
    const QDBusReply<void> done = login1.call(QStringLiteral("PowerOff"), false);
    if (!done.isValid()) {
        *reason = done.error().message();
        return false;
    }
    return true;
}
