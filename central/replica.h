// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class Conn;
class QSqlQuery;

// A table that the central timetable holds for each site and that a following computer
// copies into its own store. The copy keeps the central ids, so an event keeps its id (and
// the schedule knows it has rung) across copies.
struct ReplicatedTable {
    QString table;
    QStringList columns; // copied, the key first (the order of a copy)
    bool oneRow = false; // config: the site's one row, of which only these columns are copied
    // 区域设置: merged into this computer's zones (see MergedZone), not replaced.
    bool zones = false;
};

// Every replicated table, in the order a copy is read and written: each site table of the
// store's declarations with the columns that are not the computer's own (the other config
// columns, play order, rain mode, start-up, shutdown, stay local).
const QVector<ReplicatedTable>& ReplicatedTables();

// One site's rows of every replicated table, read in one snapshot of the central store:
// rows[i] belongs to ReplicatedTables()[i].
struct SiteCopy {
    QString site;
    QVector<QVector<QVector<QVariant>>> rows;
    // For each row of the zones table: the sink of this computer's output that the row names
    // (输出名称); "" when this computer has no output of that name, or the row names none.
    QVector<QString> zoneSinks;
};

// Where the zones table is in ReplicatedTables(); and of one of its copied rows, the zone's
// number and the name of the output it names.
int ReplicatedZonesIndex();
int CopiedZoneNumber(const QVector<QVariant>& row);
QString CopiedOutputName(const QVector<QVariant>& row);

// The SELECT of a replicated table's copied columns from `from` (a table, or the central
// table) with an optional WHERE clause, in id order; and the rows of such a query.
QString ReplicaSelectSql(const ReplicatedTable& t, const QString& from, const QString& where);
QVector<QVector<QVariant>> ReplicaRows(QSqlQuery& q, int columns);

// Makes the replicated tables of conn hold copy, in one transaction: all of it or, on
// failure, nothing. *changes counts the rows that differed (a row edited counts once). The
// time of the copy is kept.
bool ApplySiteCopy(Conn& conn, const SiteCopy& copy, const QDateTime& when, int* changes,
                   QString* error = nullptr);
