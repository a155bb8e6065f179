// SPDX-License-Identifier: GPL-3.0-or-later
// Statements on 替代音乐, the rain-day replacements.
#include "store/conn.h"
#include "store/statement.h"
#include "store/transaction.h"

#include <QSet>

#include <QSqlQuery>

namespace {

const QString kReplacements = QStringLiteral("替代音乐");

ReplaceRow ReadReplace(const QSqlQuery& q) {
    return {q.value(0).toLongLong(), ColumnText(q, 1), ColumnText(q, 2), ColumnText(q, 3)};
}

} // namespace

bool Conn::ReplaceRows(QVector<ReplaceRow>* rows, QString* error) {
    return Select(
        QStringLiteral("SELECT %1 FROM 替代音乐 ORDER BY id").arg(ColumnList(kReplacements)), {},
        rows, ReadReplace, error);
}

bool Conn::AddReplace(const QString& name, const QString& file, const QString& length, qint64* id,
                      QString* error) {
    return Insert(InsertSql(kReplacements), {NotNull(name), NotNull(file), NotNull(length)}, id,
                  error);
}

bool Conn::DeleteReplacements(const QVector<qint64>& ids, QString* error) {
    Transaction tx(*this);
    if (!tx.Begin(error)) {
        return false;
    }
    QVector<ReplaceRow> before;
    if (!ReplaceRows(&before, error)) {
        return false;
    }
    const QSet<qint64> gone(ids.begin(), ids.end());
    QStringList names;
    for (const ReplaceRow& r : before) {
        if (gone.contains(r.id) && !names.contains(r.name)) {
            names << r.name;
        }
    }
    for (qint64 id : ids) {
        if (!Exec(QStringLiteral("DELETE FROM 替代音乐 WHERE id=?"), {id}, error)) {
            return false;
        }
    }
    for (const QString& name : names) {
        if (!name.isEmpty() && !ClearVanishedReplace(name, error)) {
            return false;
        }
    }
    return tx.Commit(error);
}
