// SPDX-License-Identifier: GPL-3.0-or-later
// Statements on 播放记录, what became of each event of the timetable.
#include "store/conn.h"
#include "store/statement.h"

#include <QSqlQuery>

namespace {

const QString kRecords = QStringLiteral("播放记录");
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

} // namespace

bool Conn::AddPlayRecord(const PlayRecordRow& row, qint64* id, QString* error) {
    // An unknown lateness is stored as Null, not as a made-up number.
    const QVariant late = row.lateMs < 0 ? QVariant() : QVariant(row.lateMs);
    return Insert(InsertSql(kRecords),
                  {NotNull(row.date), NotNull(row.time), NotNull(row.event), NotNull(row.file),
                   static_cast<int>(row.outcome), late, NotNull(row.reason)},
                  id, error);
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
