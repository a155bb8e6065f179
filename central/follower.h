// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/central_thread.h"
#include "central/reports.h"
#include "core/central_state.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class CentralSocket;
class FollowWorker;
class QThread;

// Keeps this computer's store a copy of one site of the central timetable, on a thread of
// its own: the bells ring from the local store alone, and nothing here waits on the network
// in the caller's thread. The copy is made at the start, at every change the central store
// announces for the site, and every few minutes; each copy replaces the site's rows in one
// local transaction, so a copy broken off half-way leaves the store as it was. A server
// that stops answering is an outage within checkMs + answerMs, and never holds up the end.
// The same thread and connection send this computer's play records and its heartbeat.
class CentralFollower : public QObject {
    Q_OBJECT
public:
    struct Timing {
        int pollMs = 3 * 60 * 1000;  // a full copy even without a notification
        int checkMs = 15 * 1000;     // whether the server still answers; a new try when not
        int answerMs = 15 * 1000;    // a call on the server unanswered this long is given up
        int quietMs = 200;           // a burst of changes is one copy, this long after the last
        int burstMs = 2000;          // yet a steady stream of changes is copied this often
        int heartbeatMs = 60 * 1000; // this computer's state and queued records sent
    };

    // central: as CentralConnectOptions takes it; storePath: this computer's store.
    CentralFollower(QString central, QString site, QString storePath, Timing timing,
                    QObject* parent = nullptr);
    CentralFollower(QString central, QString site, QString storePath, QObject* parent = nullptr)
        : CentralFollower(std::move(central), std::move(site), std::move(storePath), Timing{},
                          parent) {}
    // Waits at most CentralThread::kEndMs for the following thread: one still connecting to
    // a server that does not answer is left to end by itself (CentralThread::LeftRunning).
    ~CentralFollower() override;

    // This computer's outputs, name → sink: a site names a zone's output by its device's
    // name, and the copy plays it on the output of that name here. Called on the following
    // thread, only when a copy names an output; set before Start. Without it every named
    // output is missing here.
    using OutputLister = std::function<QHash<QString, QString>()>;
    void SetOutputLister(OutputLister list);

    void Start();

    // What this computer's row of 计算机状态 says from now on: handed to the following
    // thread, which sends it every heartbeatMs, after each connection, and at once when it
    // changed. Before the first, the host name and version alone.
    void SetHeartbeat(const Heartbeat& beat);
    // The play records queued in the store (RecordWriter::SendTo) are sent now, if the server
    // can be reached; else they wait for it, as they do without this call.
    void SendRecords();

    const QString& Site() const { return site_; }
    // Whether the last attempt reached the server (false also before the first answer).
    bool Reachable() const { return state_.reachable; }
    // When the local copy was last made (kept in the store across runs).
    const QDateTime& LastCopy() const { return state_.lastCopy; }
    // Whether the server can be reached, why not, and the rest the main window's line says.
    const CentralState& State() const { return state_; }

signals:
    // A copy was made; changed when it differed from what the store held.
    void Pulled(bool changed);
    // State() changed in what the main window's line says: reachable, an outage or its
    // refusal, whether the account could write.
    void StateChanged();

private:
    void OnCopied(const QDateTime& when, bool changed);
    void OnLost(const QString& reason);
    void OnLastCopy(const QDateTime& when);
    void OnClockOffset(qint64 ms);
    void OnMayWrite(bool may);

    QString site_;
    Timing timing_;
    CentralThread thread_;
    FollowWorker* worker_; // the thread's
    CentralState state_;   // an outage in it was logged once
};
