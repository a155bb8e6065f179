// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/sleep_inhibitor.h"

#include "core/play_log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <utility>

namespace {

// A bus that does not answer in this time counts as a refusal.
constexpr int kAskTimeoutMs = 5000;
constexpr int kEventChars = 24;

} // namespace

LogindSleepLock::LogindSleepLock(const QDBusConnection& bus, QObject* parent)
    : SleepLock(parent), bus_(bus) {}

void LogindSleepLock::Hold(const QString& why) {
    if (why == wanted_) {
        return;
    }
    wanted_ = why;
    if (!asking_) {
        Ask(); // else the answer under way asks again
    }
}

void LogindSleepLock::Release() {
    wanted_.clear();
    held_ = QDBusUnixFileDescriptor(); // closing the last copy lets go
}

void LogindSleepLock::Ask() {
    if (!bus_.isConnected()) {
        emit Refused(QStringLiteral("无法连接系统总线（D-Bus）"));
        return;
    }
    if (!(bus_.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        emit Refused(QStringLiteral("系统总线不能传递文件描述符"));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Belvoran") << wanted_
         << QStringLiteral("block");
    asked_ = wanted_;
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kAskTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &LogindSleepLock::Answered);
}

void LogindSleepLock::Answered(QDBusPendingCallWatcher* call) {
    asking_ = false;
    call->deleteLater();
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
    if (reply.isError()) {
        if (wanted_ == asked_) {
            emit Refused(reply.error().message()); // a lock held before stays
        }
    } else if (!wanted_.isEmpty()) {
        held_ = reply.value(); // the old lock, if any, closes now
    }
    if (!wanted_.isEmpty() && wanted_ != asked_) {
        Ask();
    }
}

BellsKeepAwake::BellsKeepAwake(SleepLock& lock, QObject* parent) : QObject(parent), lock_(lock) {
    connect(&lock_, &SleepLock::Refused, this, &BellsKeepAwake::OnRefused);
}

void BellsKeepAwake::Update(bool bellLeft, const QString& nextTime, const QString& nextEvent,
                            bool sounding) {
    // The day's last sound (a bell, a break's music) is heard to its end too.
    const QString why = bellLeft   ? Why(nextTime, nextEvent)
                        : sounding ? QStringLiteral("正在播放")
                                   : QString();
    if (why == asked_) {
        return;
    }
    asked_ = why;
    if (why.isEmpty()) {
        lock_.Release();
    } else {
        lock_.Hold(why);
    }
}

QString BellsKeepAwake::Why(const QString& time, const QString& event) {
    const QString name =
        event.size() > kEventChars ? event.left(kEventChars - 1) + QChar(0x2026) : event;
    return QStringLiteral("下一个铃声 %1 %2").arg(time, name).trimmed();
}

void BellsKeepAwake::OnRefused(const QString& reason) {
    if (!std::exchange(refusalSaid_, true)) {
        PlayLog(QStringLiteral("cannot keep the computer awake while bells remain "
                               "(systemd-logind's inhibitor lock): %1")
                    .arg(reason));
    }
}
