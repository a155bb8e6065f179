// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/report_sender.h"

#include "central/central.h"
#include "store/conn.h"

namespace {

constexpr qint64 kRetryRefusedMs = 60 * 60 * 1000;

// The server's words alone: the rest of the driver's text names a prepared statement anew
// each time, and a reason said once must read the same the next time.
QString ServerReason(const QString& error) {
    return error.section(QLatin1Char('\n'), 0, 0).simplified();
}

QString RecordName(const QueuedRecordRow& row) {
    return QStringLiteral("%1 %2 %3").arg(row.record.date, row.record.time, row.record.event);
}

} // namespace

bool ReportSender::SendQueued(CentralStore& server, Conn& local, QString* error) {
    if ((!retried_.isValid() || retried_.elapsed() > kRetryRefusedMs) &&
        !RetryRefused(server, local, error)) {
        return false;
    }
    for (;;) {
        QVector<QueuedRecordRow> rows;
        QString why;
        if (!local.QueuedRecords(kBatch, false, &rows, &why)) {
            LocalFailure(QStringLiteral("read"), why);
            return true; // the server is not at fault
        }
        if (rows.isEmpty()) {
            return true;
        }
        if (server.SendRecords(rows, beat_.computer, &why)) {
            Drop(local, rows);
        } else if (!server.Ping(error)) {
            return false;
        } else if (!SendEach(server, local, rows, error)) {
            return false;
        }
        if (rows.size() < kBatch || localFailing_) {
            return true;
        }
    }
}

bool ReportSender::SendEach(CentralStore& server, Conn& local, const QVector<QueuedRecordRow>& rows,
                            QString* error) {
    for (const QueuedRecordRow& row : rows) {
        QString why;
        if (server.SendRecords({row}, beat_.computer, &why)) {
            Drop(local, {row});
            continue;
        }
        if (!server.Ping(error)) {
            return false;
        }
        why = ServerReason(why);
        if (why != refusedSaid_) {
            note_(QStringLiteral("error the central timetable refuses the play record of %1 "
                                 "(site %2): %3; it is kept and tried again later (more "
                                 "refused for this reason are not logged)")
                      .arg(RecordName(row), row.site, why));
            refusedSaid_ = why;
        }
        if (QString e; !local.RefuseQueuedRecord(row.id, why, &e)) {
            LocalFailure(QStringLiteral("mark a refused record in"), e);
        }
    }
    return true;
}

bool ReportSender::RetryRefused(CentralStore& server, Conn& local, QString* error) {
    retried_.start();
    QVector<QueuedRecordRow> rows;
    QString why;
    if (!local.QueuedRecords(kBatch, true, &rows, &why)) {
        LocalFailure(QStringLiteral("read"), why);
        return true;
    }
    for (const QueuedRecordRow& row : rows) {
        if (server.SendRecords({row}, beat_.computer, &why)) {
            Drop(local, {row});
            note_(QStringLiteral("the central timetable took the play record of %1 it had "
                                 "refused")
                      .arg(RecordName(row)));
        } else if (!server.Ping(error)) {
            return false;
        }
    }
    return true;
}

void ReportSender::Drop(Conn& local, const QVector<QueuedRecordRow>& rows) {
    QVector<qint64> ids;
    for (const QueuedRecordRow& row : rows) {
        ids << row.id;
    }
    // Left queued, they are sent again: the server keeps one of each.
    if (QString why; !local.DropQueuedRecords(ids, &why)) {
        LocalFailure(QStringLiteral("remove sent records from"), why);
        return;
    }
    localFailing_ = false;
}

void ReportSender::LocalFailure(const QString& what, const QString& error) {
    if (!localFailing_) {
        note_(QStringLiteral("error cannot %1 the queue of play records to send to the central "
                             "timetable: %2 (further failures are not logged until it works)")
                  .arg(what, error));
    }
    localFailing_ = true;
}

bool ReportSender::Beat(CentralStore& server, QString* error) {
    QString why;
    if (server.SendHeartbeat(site_, beat_, clockOffsetMs_, &why)) {
        if (!beatRefusedSaid_.isEmpty()) {
            RetryRefusedSoon(); // what refused the state (an old schema, say) is mended
            beatRefusedSaid_.clear();
        }
        return true;
    }
    if (!server.Ping(error)) {
        return false;
    }
    why = ServerReason(why);
    if (why != beatRefusedSaid_) {
        note_(QStringLiteral("error the central timetable refuses this computer's state (site "
                             "%1): %2")
                  .arg(site_, why));
        beatRefusedSaid_ = why;
    }
    return true;
}
