// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/settings_page.h"

#include "widgets/my_button.h"
#include "windows/settings/settings_grid.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>

namespace {

// Not the image buttons: they are locked through SetLocked, which keeps their own state.
bool IsEditor(const QWidget* w) {
    if (qobject_cast<const MyButton*>(w)) {
        return false;
    }
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w);
}

// w is a live control or inside one.
bool IsLive(const QWidget* w, const QList<QWidget*>& live) {
    for (const QWidget* l : live) {
        if (l == w || l->isAncestorOf(w)) {
            return true;
        }
    }
    return false;
}

} // namespace

void SettingsPage::SetManaged(bool on) {
    LockEditing(on);
}

void SettingsPage::ShowReadOnly(const QString& why) {
    LockEditing(true);
    // What cannot be changed says why when pointed at.
    for (QWidget* w : findChildren<QWidget*>()) {
        if (!w->isEnabled()) {
            w->setToolTip(why);
        }
    }
}

void SettingsPage::LockEditing(bool on) {
    const QList<QWidget*> live = LiveWhileManaged();
    // Buttons remember that they are locked: a reload does not enable them again.
    for (MyButton* button : findChildren<MyButton*>()) {
        if (!IsLive(button, live)) {
            button->SetLocked(on);
        }
    }
    // The grids can still be looked through and selected.
    for (FlexGrid* grid : findChildren<FlexGrid*>()) {
        grid->SetReadOnly(on);
    }
    if (on) {
        DisableEditors(live);
    } else {
        EnableAgain();
    }
}

void SettingsPage::DisableEditors(const QList<QWidget*>& live) {
    for (QWidget* w : findChildren<QWidget*>()) {
        if (IsEditor(w) && !IsLive(w, live)) {
            // Only what was enabled in its own right is enabled again on unlocking.
            if (!w->testAttribute(Qt::WA_ForceDisabled)) {
                disabled_ << w;
            }
            w->setEnabled(false);
        }
    }
}

void SettingsPage::EnableAgain() {
    for (const QPointer<QWidget>& w : std::as_const(disabled_)) {
        if (w) {
            w->setEnabled(true);
        }
    }
    disabled_.clear();
}
