// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class CentralSocket;
class QObject;
class QThread;

// A worker that talks to the central server on a thread of its own. A watchdog on the
// owner's thread (the worker's is the one stuck) cuts a call unanswered for answerMs, and the
// end never waits on a hung server for more than kEndMs.
class CentralThread {
public:
    static constexpr int kEndMs = 2000;

    CentralThread(const QString& name, int answerMs);
    CentralThread(const CentralThread&) = delete;
    CentralThread& operator=(const CentralThread&) = delete;
    // Ends the thread as End does, with nothing more to stop on it.
    ~CentralThread();

    // Shared with the worker, which may outlive this.
    const std::shared_ptr<CentralSocket>& Socket() const { return socket_; }
    // Moves worker to the thread; it is the thread's until the end.
    void Adopt(QObject* worker);
    void Start();
    void Watch(bool on);
    // Runs stop on the thread, then ends it, cutting the socket so that a call on a hung
    // server fails at once. A thread inside libpq's connect, which nothing here can cut
    // (connect_timeout ends it), is left to end by itself, the worker with it, and leftLine
    // is logged.
    void End(const std::function<void()>& stop, const QString& leftLine);

    // Threads left running at their end that have not ended since: the process should then
    // end without its exit handlers, which they could race with.
    static int LeftRunning();

private:
    std::shared_ptr<CentralSocket> socket_;
    QThread* thread_;
    QObject* worker_ = nullptr;
    QTimer watchdog_;
};
