// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

// A hold that keeps the computer from sleeping. Tests replace it.
class SleepLock : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Holds with why (the reason shown to whoever tries to sleep), or changes a held lock's
    // why. The answer may come later; Refused says when it was not granted.
    virtual void Hold(const QString& why) = 0;
    // Lets go of the hold; nothing when none is held.
    virtual void Release() = 0;

signals:
    void Refused(const QString& reason);
};

// systemd-logind's inhibitor lock "sleep:idle" in mode "block": held while the file
// descriptor Inhibit returns stays open. Asked without waiting, so a slow bus never holds
// up a bell; a changed why takes a new lock before the old one is let go.
class LogindSleepLock : public SleepLock {
    Q_OBJECT
public:
    explicit LogindSleepLock(const QDBusConnection& bus = QDBusConnection::systemBus(),
                             QObject* parent = nullptr);
    void Hold(const QString& why) override;
    void Release() override;
    // Whether logind granted the lock now held.
    bool Held() const { return held_.isValid(); }

private:
    void Ask();
    void Answered(QDBusPendingCallWatcher* call);

    QDBusConnection bus_;
    QDBusUnixFileDescriptor held_;
    QString wanted_; // the why wanted now; empty: no hold
    QString asked_;  // the why of the call under way
    bool asking_ = false;
};

// Keeps the computer awake while today still has bells to ring: holds the lock with the
// next bell as its why, lets go once the day's last bell has rung and nothing sounds any
// more. A refusal is said once.
class BellsKeepAwake : public QObject {
    Q_OBJECT
public:
    explicit BellsKeepAwake(SleepLock& lock, QObject* parent = nullptr);
    // The schedule's state now: whether a bell is still to ring, and which; whether a sound
    // plays now.
    void Update(bool bellLeft, const QString& nextTime, const QString& nextEvent,
                bool sounding = false);
    // "下一个铃声 14:30:00 上课": a long event name is cut short.
    static QString Why(const QString& time, const QString& event);

private:
    void OnRefused(const QString& reason);

    SleepLock& lock_;
    QString asked_; // the why last asked for; empty: released
    bool refusalSaid_ = false;
};
