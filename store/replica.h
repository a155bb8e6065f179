#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// A table that the central timetable holds for each site and that a following computer
// copies into its own store. The copy keeps the central ids, so an event keeps its id (and
// the schedule knows it has rung) across copies.
struct ReplicatedTable {
    QString table;
    QStringList columns; // copied, the key first (the order of a copy)
    bool oneRow = false; // config: the site's one row, of which only these columns are copied
    // 区域设置: merged into this computer's zones (see Conn::MergeZones), not replaced.
    bool zones = false;
};

// Every replicated table, in the order a copy is read and written.
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

// Where the zones table is in ReplicatedTables(), and the place of 输出名称 in its rows.
int ReplicatedZonesIndex();
constexpr int kCopiedOutputName = 2;
