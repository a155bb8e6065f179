// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/wall_clock_steps.h"

#include "core/play_log.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/timerfd.h>
#include <unistd.h>

WallClockSteps::WallClockSteps(QObject* parent) : QObject(parent) {
    fd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) {
        PlayLog(QStringLiteral("warning clock steps are seen only at the next look at the clock: "
                               "timerfd: %1")
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &WallClockSteps::OnReadable);
    Arm();
}

WallClockSteps::~WallClockSteps() {
    delete notifier_;
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void WallClockSteps::Arm() {
    // An absolute expiry far away that never comes: only a change of the clock ends it.
    itimerspec expiry{};
    expiry.it_value.tv_sec = 0x7fffffff;
    ::timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &expiry, nullptr);
}

void WallClockSteps::OnReadable() {
    quint64 expirations = 0;
    const ssize_t n = ::read(fd_, &expirations, sizeof expirations);
    if (n < 0 && errno == ECANCELED) {
        Arm(); // cancelled by the change: watch for the next one
        emit Stepped();
    } else if (n < 0 && errno != EAGAIN) {
        notifier_->setEnabled(false); // nothing more to learn from it
    }
}
