// SPDX-License-Identifier: GPL-3.0-or-later
// A following computer's copy of its central site, as the store keeps it: tables brought to
// the site's rows, and which site it follows.
#include "store/conn.h"
#include "store/statement.h"
#include "store/transaction.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const QString kCopyTime = QStringLiteral("中心副本时间");
const QString kCentral = QStringLiteral("中心时间表");
const QString kSite = QStringLiteral("中心站点");

// Compared as text: SQLite and PostgreSQL hand the same values back in different types.
bool SameRow(const QVector<QVariant>& a, const QVector<QVariant>& b) {
    for (int c = 0; c < a.size(); ++c) {
        if (a[c].isNull() != b.value(c).isNull() || a[c].toString() != b.value(c).toString()) {
            return false;
        }
    }
    return true;
}

bool SameRows(const QVector<QVector<QVariant>>& a, const QVector<QVector<QVariant>>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (int r = 0; r < a.size(); ++r) {
        if (!SameRow(a[r], b[r])) {
            return false;
        }
    }
    return true;
}

// What turns a table's local rows into the copy's, by key (the first column): the local
// rows to delete and the copy's rows to insert. A changed row is both, so nothing unique
// (特殊日期's date) ever meets the row it replaces.
struct RowChanges {
    QVector<QVariant> deleted; // keys
    QVector<const QVector<QVariant>*> inserted;
};

RowChanges Changes(const QVector<QVector<QVariant>>& local,
                   const QVector<QVector<QVariant>>& copy) {
    QHash<QString, const QVector<QVariant>*> here;
    for (const QVector<QVariant>& row : local) {
        here.insert(row.value(0).toString(), &row);
    }
    RowChanges changes;
    for (const QVector<QVariant>& row : copy) {
        const QVector<QVariant>* old = here.take(row.value(0).toString());
        if (!old || !SameRow(*old, row)) {
            if (old) {
                changes.deleted << old->value(0);
            }
            changes.inserted << &row;
        }
    }
    for (const QVector<QVariant>* gone : std::as_const(here)) {
        changes.deleted << gone->value(0);
    }
    return changes;
}

// Deletes the changed rows by key, then inserts their new versions, with q.
bool WriteChanges(QSqlQuery& q, const QString& table, const QStringList& columns,
                  const RowChanges& changes, QString* error) {
    if (!changes.deleted.isEmpty()) {
        if (!q.prepare(QStringLiteral("DELETE FROM %1 WHERE %2=?").arg(table, columns[0]))) {
            return Failed(error, q.lastError().text());
        }
        for (const QVariant& key : changes.deleted) {
            q.addBindValue(key);
            if (!q.exec()) {
                return Failed(error, q.lastError().text());
            }
        }
    }
    const QString marks = QStringList(columns.size(), QStringLiteral("?")).join(", ");
    if (!changes.inserted.isEmpty() && !q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                                      .arg(table, columns.join(", "), marks))) {
        return Failed(error, q.lastError().text());
    }
    for (const QVector<QVariant>* row : changes.inserted) {
        for (const QVariant& value : *row) {
            q.addBindValue(value);
        }
        if (!q.exec()) {
            return Failed(error, q.lastError().text());
        }
    }
    return true;
}

} // namespace

bool Conn::MatchRows(const TableDecl& t, const QStringList& columns,
                     const QVector<QVector<QVariant>>& rows, int* changes, QString* error) {
    QVector<QVector<QVariant>> local;
    if (!Select(
            SelectRowsSql(t, columns, t.name), {}, &local,
            [&](const QSqlQuery& q) {
                QVector<QVariant> row(columns.size());
                for (int i = 0; i < columns.size(); ++i) {
                    row[i] = q.value(i);
                }
                return row;
            },
            error)) {
        return false;
    }
    *changes = SameRows(local, rows) ? 0 : 1;
    if (*changes == 0) {
        return true;
    }
    if (t.OneRow()) {
        QStringList sets;
        for (const QString& c : columns) {
            sets << c + QStringLiteral("=?");
        }
        const QVector<QVariant> row = rows.value(0, QVector<QVariant>(columns.size()));
        return Exec(QStringLiteral("UPDATE %1 SET %2").arg(t.name, sets.join(", ")),
                    QVariantList(row.begin(), row.end()), error);
    }
    // Each statement prepared once: a one-row change of a large site is two statements.
    QSqlQuery q(Database());
    const RowChanges changed = Changes(local, rows);
    QSet<QString> keys; // an edited row is deleted and inserted: one change
    for (const QVariant& key : changed.deleted) {
        keys.insert(key.toString());
    }
    for (const QVector<QVariant>* row : changed.inserted) {
        keys.insert(row->value(0).toString());
    }
    *changes = int(keys.size());
    return WriteChanges(q, t.name, columns, changed, error);
}

bool Conn::LastCentralCopy(QDateTime* when, QString* error) {
    QVector<QString> rows;
    if (!Select(
            QStringLiteral("SELECT 值 FROM 记忆 WHERE 名称=?"), {kCopyTime}, &rows,
            [](const QSqlQuery& q) { return ColumnText(q, 0); }, error)) {
        return false;
    }
    *when = QDateTime::fromString(rows.value(0), Qt::ISODate);
    return true;
}

bool Conn::SetLastCentralCopy(const QDateTime& when, QString* error) {
    return Remember(kCopyTime, when.toString(Qt::ISODate), error);
}

bool Conn::FollowedSite(QString* central, QString* site, QString* error) {
    QVector<QString> rows;
    if (!Select(
            QStringLiteral("SELECT coalesce(值, '') FROM 记忆 WHERE 名称=? UNION ALL "
                           "SELECT coalesce(值, '') FROM 记忆 WHERE 名称=?"),
            {kCentral, kSite}, &rows, [](const QSqlQuery& q) { return ColumnText(q, 0); }, error)) {
        return false;
    }
    *central = rows.size() == 2 ? rows[0] : QString();
    *site = rows.size() == 2 ? rows[1] : QString();
    return true;
}

bool Conn::SetFollowedSite(const QString& central, const QString& site, QString* error) {
    Transaction tx(*this);
    if (!tx.Begin(error)) {
        return false;
    }
    for (const auto& [name, value] : {std::pair{kCentral, central}, std::pair{kSite, site}}) {
        const bool ok = value.isEmpty()
                            ? Exec(QStringLiteral("DELETE FROM 记忆 WHERE 名称=?"), {name}, error)
                            : Remember(name, value, error);
        if (!ok) {
            return false;
        }
    }
    return tx.Commit(error);
}
