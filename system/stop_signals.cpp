// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/stop_signals.h"

#include "core/play_log.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};

// The end the handler writes to; -1 while no StopSignals catches.
volatile sig_atomic_t writeEnd = -1;

void OnSignal(int signal) {
    const int saved = errno; // the interrupted code may be about to read it
    const char number = char(signal);
    if (writeEnd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(writeEnd, &number, 1);
    }
    errno = saved;
}

bool Catch(void (*handler)(int), int flags) {
    struct sigaction action = {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) {
        PlayLog(QStringLiteral("error cannot catch SIGTERM and SIGINT: %1").arg(strerror(errno)));
        fds_[0] = fds_[1] = -1;
        return;
    }
    writeEnd = fds_[0];
    // SA_RESETHAND: the next signal of the kind takes its default action.
    if (!Catch(OnSignal, SA_RESTART | SA_RESETHAND)) {
        PlayLog(QStringLiteral("error cannot catch SIGTERM and SIGINT: %1").arg(strerror(errno)));
        Catch(SIG_DFL, 0);
        writeEnd = -1;
        return;
    }
    notifier_ = new QSocketNotifier(fds_[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::ReadSignals);
}

StopSignals::~StopSignals() {
    Catch(SIG_DFL, 0);
    writeEnd = -1;
    delete notifier_;
    for (int fd : fds_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void StopSignals::ReadSignals() {
    char numbers[16];
    ssize_t n = 0;
    while ((n = ::read(fds_[1], numbers, sizeof numbers)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            PlayLog(numbers[i] == SIGINT ? QStringLiteral("ending on SIGINT")
                                         : QStringLiteral("ending on SIGTERM"));
            emit Received(numbers[i]);
        }
    }
}
