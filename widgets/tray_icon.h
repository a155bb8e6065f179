// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSystemTrayIcon>

class QMenu;
class QWidget;

// The main window's notification-area icon. Tip "Belvoran"; the right button opens
// NotifyMenu; left clicks and double clicks do nothing.
QSystemTrayIcon* AddTrayIcon(QWidget* window, const QIcon& icon, QMenu* NotifyMenu);
void RemoveTrayIcon(QSystemTrayIcon* tray);
// Whether a tray activation opens the menu (only the right button does).
bool TrayMouseMove(QSystemTrayIcon::ActivationReason reason);
