// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/reports.h"

#include <QElapsedTimer>
#include <QString>
#include <QVector>

#include <functional>
#include <optional>

class CentralStore;
class Conn;
struct QueuedRecordRow;

// The following thread's sending to the central timetable: the play records queued in the
// store (sent a batch at a time, each batch removed from the queue once the server has
// committed it) and the heartbeat. A failure of the connection is the caller's to handle
// (the records stay queued); a record the server refuses for another reason is kept in the
// queue with the reason, said once, and tried again only on a new connection, hourly, or
// once the server takes a heartbeat it refused (what refused both is mended).
class ReportSender {
public:
    using Note = std::function<void(const QString& line)>;
    ReportSender(QString site, Note note) : site_(std::move(site)), note_(std::move(note)) {}

    static constexpr int kBatch = 50;

    void SetHeartbeat(const Heartbeat& beat) { beat_ = beat; }
    const Heartbeat& LastHeartbeat() const { return beat_; }
    void SetClockOffset(qint64 ms) { clockOffsetMs_ = ms; }
    // A new connection: records the server refused are tried again with the next send.
    void RetryRefusedSoon() { retried_.invalidate(); }

    // False, with the reason, when the connection failed.
    bool SendQueued(CentralStore& server, Conn& local, QString* error);
    bool Beat(CentralStore& server, QString* error);

private:
    // Sends rows one at a time after their batch was refused: each sent one leaves the
    // queue, each refused one stays with its reason.
    bool SendEach(CentralStore& server, Conn& local, const QVector<QueuedRecordRow>& rows,
                  QString* error);
    bool RetryRefused(CentralStore& server, Conn& local, QString* error);
    // Removes sent rows from the queue.
    void Drop(Conn& local, const QVector<QueuedRecordRow>& rows);
    // Says a local store failure once until the store works again.
    void LocalFailure(const QString& what, const QString& error);

    QString site_;
    Note note_;
    Heartbeat beat_ = BareHeartbeat();
    std::optional<qint64> clockOffsetMs_;
    QElapsedTimer retried_;   // since refused records were last tried again
    QString refusedSaid_;     // the last refusal of a record said
    QString beatRefusedSaid_; // the last refusal of a heartbeat said
    bool localFailing_ = false;
};
