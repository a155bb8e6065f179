// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFrame>
#include <QList>
#include <QPointer>

// A page of the settings window. The window loads the page each time it is chosen, and makes
// it read-only while this computer follows a central site or the account may only look.
class SettingsPage : public QFrame {
    Q_OBJECT
public:
    using QFrame::QFrame;

    // Shows what the store holds; run each time the page is chosen.
    virtual void Load() = 0;
    // Stores what the page shows; false (after saying why) when refused. Most pages store
    // each change as it is made and have nothing left to store.
    virtual bool Save() { return true; }
    // While this computer follows a central site, whose copies replace what the page would
    // change: the editing controls are locked, all but those the page keeps live.
    virtual void SetManaged(bool on);
    // The account may only look: the editing controls are locked, each saying why.
    void ShowReadOnly(const QString& why);

protected:
    // The controls that stay usable on a locked page, since they change nothing: choosing
    // what to look at, trying out a sound.
    virtual QList<QWidget*> LiveWhileManaged() const { return {}; }
    // Locks (or unlocks again) every editing control but the live ones.
    void LockEditing(bool on);

private:
    void DisableEditors(const QList<QWidget*>& live);
    void EnableAgain();

    QList<QPointer<QWidget>> disabled_; // what LockEditing disabled, to enable again
};
