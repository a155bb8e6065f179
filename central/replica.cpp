// SPDX-License-Identifier: GPL-3.0-or-later
// A following computer's copy of its site: replacing the local rows in one transaction.
#include "central/replica.h"

#include "store/conn.h"
#include "store/transaction.h"

namespace {

const QString kZonesTable = QStringLiteral("区域设置");

// A column of a copied zone row by its name.
QVariant ZoneValue(const QVector<QVariant>& row, const QString& column) {
    return row.value(ReplicatedTables()[ReplicatedZonesIndex()].columns.indexOf(column));
}

// A site's zone row (as ReplicatedTables copies it) merged into this computer's: the name,
// the output's name and the channels come from the site; the switch command, and a sink
// typed by hand here, are this computer's own. sink: this computer's output of that name.
ZoneRow MergedZone(ZoneRow local, const QVector<QVariant>& central, const QString& sink) {
    const QString name = ZoneValue(central, QStringLiteral("名称")).toString().trimmed();
    local.name = name.isEmpty() ? DefaultZoneNames()[local.zone - 1] : name;
    local.channels = ZoneValue(central, QStringLiteral("声道数")).toInt();
    local.channel = ZoneValue(central, QStringLiteral("声道")).toInt();
    const bool typedHere = local.outputName.isEmpty() && !local.sink.isEmpty();
    if (!typedHere) {
        local.outputName = CopiedOutputName(central);
        local.sink = sink;
    }
    return local;
}

// The site's zone rows merged into this computer's zones: what the site says (names,
// outputs by name, channels) replaces what it said before; a switch command, and a sink
// typed by hand on this computer, stay. sinks: this computer's sink for each row's output.
bool MergeZones(Conn& conn, const QVector<QVector<QVariant>>& central,
                const QVector<QString>& sinks, int* changes, QString* error) {
    QVector<ZoneRow> zones;
    if (!conn.Zones(&zones, error)) {
        return false;
    }
    QVector<ZoneRow> merged = zones;
    for (int r = 0; r < central.size(); ++r) {
        const int zone = CopiedZoneNumber(central[r]);
        if (zone >= 1 && zone <= kZoneCount) {
            merged[zone - 1] = MergedZone(zones[zone - 1], central[r], sinks.value(r));
        }
    }
    *changes = 0;
    for (int i = 0; i < merged.size(); ++i) {
        *changes += merged[i] != zones.value(i) ? 1 : 0;
    }
    return *changes == 0 || conn.WriteZonesAsGiven(merged, error);
}

} // namespace

const QVector<ReplicatedTable>& ReplicatedTables() {
    static const QVector<ReplicatedTable> tables = [] {
        QVector<ReplicatedTable> copied;
        for (const TableDecl& t : Tables()) {
            if (t.Central()) {
                copied.push_back({t.name, CopiedColumns(t), t.OneRow(), t.name == kZonesTable});
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

int CopiedZoneNumber(const QVector<QVariant>& row) {
    return ZoneValue(row, Table(kZonesTable).key).toInt();
}

QString CopiedOutputName(const QVector<QVariant>& row) {
    return ZoneValue(row, QStringLiteral("输出名称")).toString();
}

QString ReplicaSelectSql(const ReplicatedTable& t, const QString& from, const QString& where) {
    return SelectRowsSql(Table(t.table), t.columns, from, where);
}

QVector<QVector<QVariant>> ReplicaRows(QSqlQuery& q, int columns) {
    return PlainRows(q, columns);
}

bool ApplySiteCopy(Conn& conn, const SiteCopy& copy, const QDateTime& when, int* changes,
                   QString* error) {
    const QVector<ReplicatedTable>& tables = ReplicatedTables();
    if (copy.rows.size() != tables.size()) {
        return Failed(error, QStringLiteral("incomplete copy of site %1").arg(copy.site));
    }
    Transaction tx(conn);
    if (!tx.Begin(error)) {
        return false;
    }
    *changes = 0;
    for (int i = 0; i < tables.size(); ++i) {
        int tableChanges = 0;
        const bool ok = tables[i].zones
                            ? MergeZones(conn, copy.rows[i], copy.zoneSinks, &tableChanges, error)
                            : conn.MatchRows(Table(tables[i].table), tables[i].columns,
                                             copy.rows[i], &tableChanges, error);
        if (!ok) {
            return false;
        }
        *changes += tableChanges;
    }
    return conn.SetLastCentralCopy(when, error) && tx.Commit(error);
}
