// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/service_notify.h"

#include "core/play_log.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The socket's address; false when the name does not fit one.
bool Address(const QByteArray& name, sockaddr_un* address, socklen_t* length) {
    *address = {};
    address->sun_family = AF_UNIX;
    if (name.isEmpty() || size_t(name.size()) >= sizeof address->sun_path ||
        (name[0] != '/' && name[0] != '@')) {
        return false;
    }
    std::memcpy(address->sun_path, name.constData(), size_t(name.size()));
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(name.size()));
    if (name[0] == '@') {
        address->sun_path[0] = '\0'; // abstract: no terminating zero either
    } else {
        *length += 1;
    }
    return true;
}

} // namespace

ServiceNotify::ServiceNotify() : address_(qgetenv("NOTIFY_SOCKET")) {
    // A watchdog meant for another process of the service is not this one's to feed.
    const QByteArray pid = qgetenv("WATCHDOG_PID");
    watchdog_ = pid.isEmpty() || pid.toLongLong() == qint64(::getpid());
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_PID");
    qunsetenv("WATCHDOG_USEC");
    if (!address_.isEmpty()) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ < 0) {
            PlayLog(QStringLiteral("warning cannot tell systemd how the service does: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
        }
    }
}

ServiceNotify::~ServiceNotify() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ServiceNotify::Send(const QByteArray& state) {
    sockaddr_un address;
    socklen_t length = 0;
    if (fd_ < 0 || !Address(address_, &address, &length)) {
        return false;
    }
    return ::sendto(fd_, state.constData(), size_t(state.size()), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&address), length) == state.size();
}

void ServiceNotify::Ready() {
    if (Send(QByteArrayLiteral("READY=1"))) {
        PlayLog(QStringLiteral("told systemd the service is ready"));
    }
}

void ServiceNotify::Watchdog() {
    if (watchdog_) {
        Send(QByteArrayLiteral("WATCHDOG=1"));
    }
}

void ServiceNotify::Stopping() {
    Send(QByteArrayLiteral("STOPPING=1"));
}

void ServiceNotify::Status(const QString& text) {
    if (!Enabled() || text == status_) {
        return;
    }
    status_ = text;
    // One line: a newline would start another assignment.
    Send("STATUS=" + QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')).toUtf8());
}
