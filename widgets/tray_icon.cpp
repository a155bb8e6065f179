// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/tray_icon.h"

#include <QCursor>
#include <QMenu>
#include <QWidget>

QSystemTrayIcon* AddTrayIcon(QWidget* window, const QIcon& icon, QMenu* NotifyMenu) {
    auto* tray = new QSystemTrayIcon(icon, window);
    tray->setObjectName(QStringLiteral("TrayIcon"));
    tray->setToolTip(QStringLiteral("Belvoran"));
    // Most platforms open the context menu on the right button themselves; where one only
    // reports the click, open it here. Every other click does nothing.
    tray->setContextMenu(NotifyMenu);
    QObject::connect(tray, &QSystemTrayIcon::activated, NotifyMenu,
                     [NotifyMenu](QSystemTrayIcon::ActivationReason reason) {
                         if (TrayMouseMove(reason) && !NotifyMenu->isVisible()) {
                             NotifyMenu->popup(QCursor::pos());
                         }
                     });
    tray->show();
    return tray;
}

void RemoveTrayIcon(QSystemTrayIcon* tray) {
    if (tray) {
        tray->hide();
    }
}

bool TrayMouseMove(QSystemTrayIcon::ActivationReason reason) {
    return reason == QSystemTrayIcon::Context;
}
