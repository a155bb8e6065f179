// SPDX-License-Identifier: GPL-3.0-or-later
// Statements on 区域设置, where each play zone sounds.
#include "store/conn.h"
#include "store/statement.h"
#include "store/transaction.h"

#include <QSqlQuery>

namespace {

const QString kZones = QStringLiteral("区域设置");

ZoneRow ReadZone(const QSqlQuery& q) {
    return {q.value(0).toInt(), ColumnText(q, 1),   ColumnText(q, 2), ColumnText(q, 3),
            q.value(4).toInt(), q.value(5).toInt(), ColumnText(q, 6)};
}

QString ZoneProblem(const ZoneRow& z) {
    if (z.zone < 1 || z.zone > kZoneCount) {
        return QStringLiteral("区域序号 %1 不在 1 到 %2 之间").arg(z.zone).arg(kZoneCount);
    }
    if (!z.ChannelsUsable()) {
        return QStringLiteral("区域“%1”的声道 %2 不在输出的 %3 个声道之内")
            .arg(z.name)
            .arg(z.channel)
            .arg(z.channels);
    }
    return {};
}

} // namespace

bool Conn::Zones(QVector<ZoneRow>* rows, QString* error) {
    QVector<ZoneRow> stored;
    if (!Select(QStringLiteral("SELECT %1 FROM 区域设置 ORDER BY 序号").arg(ColumnList(kZones)), {},
                &stored, ReadZone, error)) {
        return false;
    }
    QVector<ZoneRow> zones(kZoneCount);
    for (int i = 0; i < kZoneCount; ++i) {
        zones[i].zone = i + 1;
        zones[i].name = DefaultZoneNames()[i];
    }
    for (const ZoneRow& z : stored) {
        if (z.zone >= 1 && z.zone <= kZoneCount) {
            zones[z.zone - 1] = z;
            if (z.name.trimmed().isEmpty()) {
                zones[z.zone - 1].name = DefaultZoneNames()[z.zone - 1];
            }
        }
    }
    *rows = zones;
    return true;
}

bool Conn::SetZones(const QVector<ZoneRow>& rows, QString* error) {
    // Channel settings kept as they are stored (a site's, on a following computer) are not
    // the caller's to answer for; new ones must be usable.
    QVector<ZoneRow> stored;
    if (!Zones(&stored, error)) {
        return false;
    }
    for (const ZoneRow& z : rows) {
        const ZoneRow before = stored.value(z.zone - 1);
        const bool kept = before.channel == z.channel && before.channels == z.channels;
        if (const QString problem = ZoneProblem(z); !problem.isEmpty() && !kept) {
            return Failed(error, problem);
        }
    }
    Transaction tx(*this);
    return tx.Begin(error) && WriteZones(rows, error, true) && tx.Commit(error);
}

bool Conn::WriteZonesAsGiven(const QVector<ZoneRow>& rows, QString* error) {
    return WriteZones(rows, error, true);
}

bool Conn::WriteZones(const QVector<ZoneRow>& rows, QString* error, bool asGiven) {
    for (const ZoneRow& z : rows) {
        const QString problem = ZoneProblem(z);
        if (!problem.isEmpty() && (!asGiven || z.zone < 1 || z.zone > kZoneCount)) {
            return Failed(error, problem);
        }
    }
    // An update, else an insert: on the central store a zone is unique within its site only,
    // which an ON CONFLICT clause cannot name.
    for (const ZoneRow& z : rows) {
        const QVariantList values = {NotNull(z.name.trimmed()),
                                     NotNull(z.sink.trimmed()),
                                     NotNull(z.outputName),
                                     z.channels,
                                     z.channel,
                                     NotNull(z.command.trimmed()),
                                     z.zone};
        QSqlQuery q;
        if (!Run(&q, UpdateSql(kZones), values, error)) {
            return false;
        }
        if (q.numRowsAffected() < 1 && !Exec(InsertSql(kZones), values, error)) {
            return false;
        }
    }
    return true;
}
