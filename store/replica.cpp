// A following computer's copy of its site: replacing the local rows in one transaction.
#include "store/replica.h"

#include "store/conn.h"
#include "store/statement.h"
#include "store/transaction.h"

#include <QDateTime>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const QString kCopyTime = QStringLiteral("中心副本时间");
const QString kCentral = QStringLiteral("中心时间表");
const QString kSite = QStringLiteral("中心站点");

QVector<QVariant> ReadRow(const QSqlQuery& q, int count) {
    QVector<QVariant> row(count);
    for (int i = 0; i < count; ++i) {
        row[i] = q.value(i);
    }
    return row;
}

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

// A site's zone row (as ReplicatedTables copies it) merged into this computer's: the name,
// the output's name and the channels come from the site; the switch command, and a sink
// typed by hand here, are this computer's own. sink: this computer's output of that name.
ZoneRow MergedZone(ZoneRow local, const QVector<QVariant>& central, const QString& sink) {
    const QString name = central.value(1).toString().trimmed();
    local.name = name.isEmpty() ? DefaultZoneNames()[local.zone - 1] : name;
    local.channels = central.value(3).toInt();
    local.channel = central.value(4).toInt();
    const bool typedHere = local.outputName.isEmpty() && !local.sink.isEmpty();
    if (!typedHere) {
        local.outputName = central.value(kCopiedOutputName).toString();
        local.sink = sink;
    }
    return local;
}

} // namespace

// The site tables of the store's declarations, with the columns that are not the computer's
// own: the other config columns (play order, rain mode, start-up, shutdown) stay local.
const QVector<ReplicatedTable>& ReplicatedTables() {
    static const QVector<ReplicatedTable> tables = [] {
        QVector<ReplicatedTable> copied;
        for (const TableDecl& t : Tables()) {
            if (t.Central()) {
                copied.push_back(
                    {t.name, CopiedColumns(t), t.OneRow(), t.name == QStringLiteral("区域设置")});
            }
        }
        return copied;
    }();
    return tables;
}

int ReplicatedZonesIndex() {
    const QVector<ReplicatedTable>& tables = ReplicatedTables();
    for (int i = 0; i < tables.size(); ++i) {
        if (tables[i].zones) {
            return i;
        }
    }
    return -1;
}

QString ReplicaSelectSql(const ReplicatedTable& t, const QString& from, const QString& where) {
    return SelectRowsSql(Table(t.table), t.columns, from, where);
}

QVector<QVector<QVariant>> ReplicaRows(QSqlQuery& q, int columns) {
    return PlainRows(q, columns);
}

bool Conn::ApplySiteCopy(const SiteCopy& copy, const QDateTime& when, bool* changed,
                         QString* error) {
    const QVector<ReplicatedTable>& tables = ReplicatedTables();
    if (copy.rows.size() != tables.size()) {
        return Failed(error, QStringLiteral("incomplete copy of site %1").arg(copy.site));
    }
    Transaction tx(*this);
    if (!tx.Begin(error)) {
        return false;
    }
    *changed = false;
    for (int i = 0; i < tables.size(); ++i) {
        if (tables[i].zones) {
            bool zonesChanged = false;
            if (!MergeZones(copy.rows[i], copy.zoneSinks, &zonesChanged, error)) {
                return false;
            }
            *changed = *changed || zonesChanged;
            continue;
        }
        QVector<QVector<QVariant>> local;
        if (!Select(
                ReplicaSelectSql(tables[i], tables[i].table, QString()), {}, &local,
                [&](const QSqlQuery& q) { return ReadRow(q, tables[i].columns.size()); }, error)) {
            return false;
        }
        if (SameRows(local, copy.rows[i])) {
            continue;
        }
        *changed = true;
        if (!CopyTable(tables[i], local, copy.rows[i], error)) {
            return false;
        }
    }
    return Remember(kCopyTime, when.toString(Qt::ISODate), error) && tx.Commit(error);
}

bool Conn::CopyTable(const ReplicatedTable& t, const QVector<QVector<QVariant>>& local,
                     const QVector<QVector<QVariant>>& rows, QString* error) {
    const QString marks = QStringList(t.columns.size(), QStringLiteral("?")).join(", ");
    if (t.oneRow) {
        QStringList sets;
        for (const QString& c : t.columns) {
            sets << c + QStringLiteral("=?");
        }
        const QVector<QVariant> row = rows.value(0, QVector<QVariant>(t.columns.size()));
        return Exec(QStringLiteral("UPDATE %1 SET %2").arg(t.table, sets.join(", ")),
                    QVariantList(row.begin(), row.end()), error);
    }
    const RowChanges changes = Changes(local, rows);
    // Each statement prepared once: a one-row change of a large site is two statements.
    QSqlQuery q(Database());
    if (!changes.deleted.isEmpty()) {
        if (!q.prepare(QStringLiteral("DELETE FROM %1 WHERE %2=?").arg(t.table, t.columns[0]))) {
            return Failed(error, q.lastError().text());
        }
        for (const QVariant& key : changes.deleted) {
            q.addBindValue(key);
            if (!q.exec()) {
                return Failed(error, q.lastError().text());
            }
        }
    }
    if (!changes.inserted.isEmpty() && !q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                                      .arg(t.table, t.columns.join(", "), marks))) {
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

bool Conn::MergeZones(const QVector<QVector<QVariant>>& central, const QVector<QString>& sinks,
                      bool* changed, QString* error) {
    QVector<ZoneRow> zones;
    if (!Zones(&zones, error)) {
        return false;
    }
    QVector<ZoneRow> merged = zones;
    for (int r = 0; r < central.size(); ++r) {
        const int zone = central[r].value(0).toInt();
        if (zone >= 1 && zone <= kZoneCount) {
            merged[zone - 1] = MergedZone(zones[zone - 1], central[r], sinks.value(r));
        }
    }
    *changed = merged != zones;
    return !*changed || WriteZones(merged, error, true);
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
