// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Tells systemd how a Type=notify service is doing: datagrams of "KEY=value" lines to the
// socket named by NOTIFY_SOCKET (a path, or an abstract name written with a leading '@'),
// as sd_notify does, without needing libsystemd. Without NOTIFY_SOCKET it does nothing.
class ServiceNotify {
public:
    // Reads NOTIFY_SOCKET (and WATCHDOG_PID) and takes them out of the environment, so the
    // zones' switch commands and other children do not speak for this service.
    ServiceNotify();
    ~ServiceNotify();
    ServiceNotify(const ServiceNotify&) = delete;
    ServiceNotify& operator=(const ServiceNotify&) = delete;

    bool Enabled() const { return !address_.isEmpty(); }
    // The day is armed: systemd counts the service as started.
    void Ready();
    // The schedule still ticks: a watchdog that misses these restarts the service.
    void Watchdog();
    void Stopping();
    // A line systemctl status shows; sent only when it changed.
    void Status(const QString& text);
    // Sends state as is; false when it could not be sent.
    bool Send(const QByteArray& state);

private:
    QByteArray address_; // the socket's name; an abstract one starts with '@'
    bool watchdog_ = true;
    QString status_;
    int fd_ = -1;
};
