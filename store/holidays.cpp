// SPDX-License-Identifier: GPL-3.0-or-later
// Statements on 特殊日期, the holidays and make-up days.
#include "store/conn.h"
#include "store/statement.h"

#include "core/time_text.h"
#include "store/transaction.h"

#include <QDate>
#include <QSqlQuery>

namespace {

const QString kDays = QStringLiteral("特殊日期");

SpecialDayRow ReadSpecialDay(const QSqlQuery& q) {
    return {q.value(0).toLongLong(), ColumnText(q, 1), ColumnText(q, 2), ColumnText(q, 3)};
}

// Why row cannot be stored, or "" when it can.
QString SpecialDayProblem(const SpecialDayRow& row) {
    const QDate date = QDate::fromString(row.date, QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid() || row.date.size() != 10) {
        return QStringLiteral("日期“%1”不是 yyyy-MM-dd 形式的日期").arg(row.date);
    }
    if (row.kind != kNoBellsKind && !WeekdayNames().contains(row.kind)) {
        return QStringLiteral("%1 的类型“%2”既不是“%3”也不是星期名")
            .arg(row.date, row.kind, kNoBellsKind);
    }
    return {};
}

} // namespace

bool Conn::SpecialDays(QVector<SpecialDayRow>* rows, QString* error) {
    return Select(
        QStringLiteral("SELECT %1 FROM 特殊日期 ORDER BY 日期, id").arg(ColumnList(kDays)), {},
        rows, ReadSpecialDay, error);
}

bool Conn::SpecialDaysOn(const QString& date, QVector<SpecialDayRow>* rows, QString* error) {
    return Select(
        QStringLiteral("SELECT %1 FROM 特殊日期 WHERE 日期=? ORDER BY id").arg(ColumnList(kDays)),
        {date}, rows, ReadSpecialDay, error);
}

bool Conn::AddSpecialDays(const QVector<SpecialDayRow>& rows, QString* error) {
    for (const SpecialDayRow& row : rows) {
        const QString problem = SpecialDayProblem(row);
        if (!problem.isEmpty()) {
            return Failed(error, problem);
        }
    }
    Transaction tx(*this);
    if (!tx.Begin(error)) {
        return false;
    }
    // An update, else an insert: the central store's rows of one site are unique by date
    // within the site only, which an ON CONFLICT clause cannot name.
    for (const SpecialDayRow& row : rows) {
        QSqlQuery q;
        if (!Run(&q, QStringLiteral("UPDATE 特殊日期 SET 类型=?, 备注=? WHERE 日期=?"),
                 {row.kind, NotNull(row.note), row.date}, error)) {
            return false;
        }
        if (q.numRowsAffected() < 1 &&
            !Exec(InsertSql(kDays), {row.date, row.kind, NotNull(row.note)}, error)) {
            return false;
        }
    }
    return tx.Commit(error);
}

bool Conn::DeleteSpecialDays(const QVector<qint64>& ids, QString* error) {
    Transaction tx(*this);
    if (!tx.Begin(error)) {
        return false;
    }
    for (qint64 id : ids) {
        if (!Exec(QStringLiteral("DELETE FROM 特殊日期 WHERE id=?"), {id}, error)) {
            return false;
        }
    }
    return tx.Commit(error);
}
