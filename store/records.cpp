// SPDX-License-Identifier: GPL-3.0-or-later
// Statements on 播放记录, what became of each event of the timetable, and on 待发送记录, the
// records a following computer has still to send.
#include "store/conn.h"
#include "store/statement.h"
#include "store/transaction.h"

#include <QSqlQuery>

namespace {

const QString kRecords = QStringLiteral("播放记录");
const QString kQueue = QStringLiteral("待发送记录");
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");

PlayOutcome OutcomeFromStored(int n) {
    switch (n) {
    case 1:
        return PlayOutcome::Skipped;
    case 2:
        return PlayOutcome::Missed;
    case 3:
        return PlayOutcome::Failed;
    default:
        return PlayOutcome::Fired;
    }
}

PlayRecordRow ReadRecord(const QSqlQuery& q) {
    PlayRecordRow r;
    r.id = q.value(0).toLongLong();
    r.date = ColumnText(q, 1);
    r.time = ColumnText(q, 2);
    r.event = ColumnText(q, 3);
    r.file = ColumnText(q, 4);
    r.outcome = OutcomeFromStored(q.value(5).toInt());
    r.lateMs = q.value(6).isNull() ? -1 : q.value(6).toInt();
    r.reason = ColumnText(q, 7);
    return r;
}

// The record's values as both tables store them, from 日期 to 原因.
QVariantList RecordValues(const PlayRecordRow& row) {
    // An unknown lateness is stored as Null, not as a made-up number.
    const QVariant late = row.lateMs < 0 ? QVariant() : QVariant(row.lateMs);
    return {NotNull(row.date),
            NotNull(row.time),
            NotNull(row.event),
            NotNull(row.file),
            static_cast<int>(row.outcome),
            late,
            NotNull(row.reason)};
}

QueuedRecordRow ReadQueued(const QSqlQuery& q) {
    return {q.value(0).toLongLong(), ColumnText(q, 8), ReadRecord(q), ColumnText(q, 9)};
}

} // namespace

bool Conn::AddPlayRecord(const PlayRecordRow& row, qint64* id, QString* error) {
    return Insert(InsertSql(kRecords), RecordValues(row), id, error);
}

bool Conn::AddPlayRecordToSend(const PlayRecordRow& row, const QString& site, QString* error) {
    Transaction tx(*this);
    return tx.Begin(error) && Insert(InsertSql(kRecords), RecordValues(row), nullptr, error) &&
           Insert(InsertSql(kQueue),
                  QVariantList{site} + RecordValues(row) + QVariantList{NotNull({})}, nullptr,
                  error) &&
           tx.Commit(error);
}

bool Conn::QueuedRecords(int limit, bool refused, QVector<QueuedRecordRow>* rows, QString* error) {
    return Select(
        QStringLiteral("SELECT id, 日期, 时间, 事件, 音乐文件, 结果, 延迟毫秒, 原因, 站点, "
                       "拒绝 FROM 待发送记录 WHERE (拒绝 <> '') = ? ORDER BY id LIMIT ?"),
        {refused, limit}, rows, ReadQueued, error);
}

bool Conn::DropQueuedRecords(const QVector<qint64>& ids, QString* error) {
    Transaction tx(*this);
    if (!tx.Begin(error)) {
        return false;
    }
    for (const qint64 id : ids) {
        if (!Exec(QStringLiteral("DELETE FROM 待发送记录 WHERE id=?"), {id}, error)) {
            return false;
        }
    }
    return tx.Commit(error);
}

bool Conn::RefuseQueuedRecord(qint64 id, const QString& reason, QString* error) {
    return Exec(QStringLiteral("UPDATE 待发送记录 SET 拒绝=? WHERE id=?"), {NotNull(reason), id},
                error);
}

bool Conn::PlayRecordsOn(const QString& date, QVector<PlayRecordRow>* rows, QString* error) {
    return Select(QStringLiteral("SELECT %1 FROM 播放记录 WHERE 日期=? ORDER BY 时间, id")
                      .arg(ColumnList(kRecords)),
                  {date}, rows, ReadRecord, error);
}

bool Conn::PlayRecordDates(QStringList* dates, QString* error) {
    QVector<QString> rows;
    if (!Select(
            QStringLiteral("SELECT DISTINCT 日期 FROM 播放记录 ORDER BY 日期"), {}, &rows,
            [](const QSqlQuery& q) { return ColumnText(q, 0); }, error)) {
        return false;
    }
    *dates = QStringList(rows.begin(), rows.end());
    return true;
}

bool Conn::PrunePlayRecords(const QDate& today, int keepDays, int* removed, QString* error) {
    QSqlQuery q;
    if (!Run(&q, QStringLiteral("DELETE FROM 播放记录 WHERE 日期<?"),
             {today.addDays(-keepDays).toString(kDateFormat)}, error)) {
        return false;
    }
    if (removed) {
        *removed = q.numRowsAffected();
    }
    return true;
}
