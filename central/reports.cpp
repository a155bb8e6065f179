// SPDX-License-Identifier: GPL-3.0-or-later
// What a following computer sends to the central timetable: its play records and its
// heartbeat, each as rows of its own account.
#include "central/call.h"
#include "core/version.h"
#include "store/failed.h"
#include "store/outcome_names.h"
#include "store/transaction.h"

#include <QDate>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>

#include <algorithm>
#include <climits>

namespace {

// Every column but the account's, which the server fills with the session's login role.
const QString kInsertRecord = QStringLiteral(
    "INSERT INTO public.播放报告 (站点, 计算机, 日期, 时间, 事件, 结果, 迟到毫秒, 原因, 文件) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (账户, 日期, 时间, 事件) DO NOTHING");

const QString kUpsertState = QStringLiteral(
    "INSERT INTO public.计算机状态 (站点, 计算机, 版本, 下一铃, 首铃, 末铃, 中断, 问题, 时钟同步, "
    "时钟偏差毫秒) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (账户) DO UPDATE SET "
    "站点 = EXCLUDED.站点, 计算机 = EXCLUDED.计算机, 版本 = EXCLUDED.版本, 下一铃 = "
    "EXCLUDED.下一铃, 首铃 = EXCLUDED.首铃, 末铃 = EXCLUDED.末铃, 中断 = EXCLUDED.中断, 问题 = "
    "EXCLUDED.问题, 时钟同步 = EXCLUDED.时钟同步, 时钟偏差毫秒 = EXCLUDED.时钟偏差毫秒, 心跳 = "
    "now()");

// Text for a NOT NULL column: never Null.
QVariant Text(const QString& s) {
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

// Text that may be unknown: Null when it is.
QVariant Nullable(const QString& s) {
    return s.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s);
}

template <typename T> QVariant Maybe(const std::optional<T>& v) {
    return v ? QVariant::fromValue(*v) : QVariant(QMetaType::fromType<T>());
}

QVariantList RecordValues(const QueuedRecordRow& row, const QString& computer) {
    const PlayRecordRow& r = row.record;
    return {row.site,
            Text(computer),
            QDate::fromString(r.date, Qt::ISODate),
            Text(r.time),
            Text(r.event),
            OutcomeKey(r.outcome),
            r.lateMs < 0 ? QVariant(QMetaType::fromType<int>()) : QVariant(r.lateMs),
            Text(r.reason),
            Text(r.file)};
}

} // namespace

Heartbeat BareHeartbeat() {
    Heartbeat beat;
    beat.computer = QSysInfo::machineHostName();
    beat.version = kProgramVersion;
    return beat;
}

bool CentralStore::SendRecords(const QVector<QueuedRecordRow>& rows, const QString& computer,
                               QString* error) {
    Call call(socket_);
    // Ended after the transaction: a failed statement is freed once it is rolled back.
    QSqlQuery q(QSqlDatabase::database(name_, false));
    Transaction tx(name_);
    if (!tx.Begin(error)) {
        return false;
    }
    if (!q.prepare(kInsertRecord)) {
        return Failed(error, Why(q, name_));
    }
    for (const QueuedRecordRow& row : rows) {
        for (const QVariant& v : RecordValues(row, computer)) {
            q.addBindValue(v);
        }
        if (!q.exec()) {
            return Failed(error, Why(q, name_));
        }
    }
    q.finish();
    return tx.Commit(error);
}

bool CentralStore::SendHeartbeat(const QString& site, const Heartbeat& beat,
                                 std::optional<qint64> clockOffsetMs, QString* error) {
    Call call(socket_);
    QSqlQuery q(QSqlDatabase::database(name_, false));
    if (!q.prepare(kUpsertState)) {
        return Failed(error, Why(q, name_));
    }
    const std::optional<int> offset =
        clockOffsetMs
            ? std::optional<int>(int(std::clamp<qint64>(*clockOffsetMs, INT_MIN, INT_MAX)))
            : std::nullopt;
    for (const QVariant& v :
         {QVariant(site), Text(beat.computer), Text(beat.version), Text(beat.nextBell),
          Nullable(beat.firstBell), Nullable(beat.lastBell), Text(beat.outage),
          Text(beat.problems.join(QLatin1Char('\n'))), Maybe(beat.clockSynchronised),
          Maybe(offset)}) {
        q.addBindValue(v);
    }
    return q.exec() || Failed(error, Why(q, name_));
}
