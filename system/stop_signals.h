// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT (a service manager, a logout, Ctrl+C) brought into the event loop, so
// the program ends its own way: relays off, records written, locks let go. The handler only
// writes the signal's number to a socket pair, the one thing a handler may safely do; its
// other end is read here. One at a time per process. A second signal of the same kind,
// while the first is being handled, takes its default action: a stuck end can be forced.
class StopSignals : public QObject {
    Q_OBJECT
public:
    // Catches the signals from now on; a signal received before the event loop runs is
    // kept until it does.
    explicit StopSignals(QObject* parent = nullptr);
    // The signals take their default action again.
    ~StopSignals() override;
    // False when the socket pair or the handlers could not be made (said in the log).
    bool Catching() const { return notifier_ != nullptr; }

signals:
    // signal: SIGTERM or SIGINT, already said in the log.
    void Received(int signal);

private:
    void ReadSignals();

    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};
