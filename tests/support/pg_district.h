// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/central.h"
#include "support/pg_server.h"

#include <QDate>
#include <QSqlError>
#include <QSqlQuery>

// A district's day on a private PostgreSQL server (PgServer): sites 一号楼 (computers pa_a1
// and pa_a2) and 二号楼 (pa_b), an editor desk_a of 一号楼 and the administrator it_admin.
// Each computer sends its heartbeat and its reports as its own account; pa_a2 was last heard
// 4 minutes ago, 60 ms off pa_a1, and pa_b's clock is not synchronised. Bell hours are the
// whole day in UTC, so pa_a2 is late during them whenever the test runs.
namespace district {

// Runs sql on the server as user; the error, or empty.
inline QString Run(const PgServer& server, const QString& user, const QString& sql,
                   const QVariantList& values = {}) {
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "district-" + user);
        db.setConnectOptions(server.Central(user));
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            q.prepare(sql); // not for a utility statement such as CREATE ROLE
            for (const QVariant& v : values) {
                q.addBindValue(v);
            }
            if (!(values.isEmpty() ? q.exec(sql) : q.exec())) {
                error = q.lastError().text() + " ";
            }
        }
    }
    QSqlDatabase::removeDatabase("district-" + user);
    return error;
}

// What each computer sends: its heartbeat, then its reports (time, event, outcome, reason,
// lateness) of day.
inline QString Heartbeat(const PgServer& s, const QString& pc, const QString& site,
                         const QString& host, const QString& problems, bool synced, int offset) {
    return Run(s, pc,
               "INSERT INTO 计算机状态 (站点, 计算机, 版本, 下一铃, 首铃, 末铃, 问题, 时钟同步, "
               "时钟偏差毫秒) VALUES (?, ?, '1.4', '14:00:00', '00:00:00', '23:59:59', ?, ?, ?)",
               {site, host, problems, synced, offset});
}
inline QString Report(const PgServer& s, const QString& pc, const QString& site,
                      const QString& host, const QDate& day, const QStringList& r) {
    return Run(s, pc,
               "INSERT INTO 播放报告 (站点, 计算机, 日期, 时间, 事件, 结果, 原因, 迟到毫秒) "
               "VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING",
               {site, host, day, r[0], r[1], r[2], r.size() > 3 ? r[3] : QStringLiteral(""),
                r.size() > 4 ? QVariant(r[4].toInt()) : QVariant(QMetaType(QMetaType::Int))});
}

// Fills the district's day on a started server; the date in UTC into *today. What failed,
// or empty.
inline QString Fill(PgServer& server, QDate* today) {
    QString error;
    auto owner = CentralStore::Open(server.Central(), &error);
    if (!owner || !owner->AddSite("一号楼") || !owner->AddSite("二号楼")) {
        return "the owner cannot make the sites: " + error;
    }
    owner.reset();
    QStringList errors;
    for (const char* sql :
         {"CREATE ROLE pa_a1 LOGIN IN ROLE belvoran_follower",
          "CREATE ROLE pa_a2 LOGIN IN ROLE belvoran_follower",
          "CREATE ROLE pa_b LOGIN IN ROLE belvoran_follower",
          "CREATE ROLE desk_a LOGIN IN ROLE belvoran_editor",
          "CREATE ROLE it_admin LOGIN IN ROLE belvoran_admin",
          "INSERT INTO 站点权限 VALUES ('pa_a1', '一号楼', false), ('pa_a2', '一号楼', false), "
          "('pa_b', '二号楼', false), ('desk_a', '一号楼', true)"}) {
        errors << Run(server, "belvoran", sql);
    }
    *today = QDateTime::currentDateTimeUtc().date();
    const QString a = "一号楼", b = "二号楼";
    errors << Heartbeat(server, "pa_a1", a, "a-101", "", true, 10)
           << Heartbeat(server, "pa_a2", a, "a-102", "音频输出不可用\n区域 3 没有输出", true, 70)
           << Heartbeat(server, "pa_b", b, "b-201", "", false, 0)
           << Run(server, "belvoran",
                  "UPDATE 计算机状态 SET 心跳 = now() - interval '4 minutes' WHERE 账户 = 'pa_a2'")
           << Report(server, "pa_a1", a, "a-101", *today, {"08:00:00", "上课", "fired"})
           << Report(server, "pa_a1", a, "a-101", *today, {"08:45:00", "下课", "fired"})
           << Report(server, "pa_a1", a, "a-101", *today,
                     {"09:00:00", "上课", "failed", "does not exist"})
           << Report(server, "pa_a1", a, "a-101", *today, {"10:00:00", "眼保健操", "skipped"})
           // sent again after a lost answer: counted once
           << Report(server, "pa_a1", a, "a-101", *today, {"10:00:00", "眼保健操", "skipped"})
           << Report(server, "pa_a2", a, "a-102", *today, {"08:00:00", "上课", "fired"})
           << Report(server, "pa_a2", a, "a-102", *today,
                     {"08:45:00", "下课", "missed", "", "95000"})
           << Report(server, "pa_b", b, "b-201", *today, {"08:00:00", "上课", "failed", "x"})
           << Report(server, "pa_a1", a, "a-101", today->addDays(-1),
                     {"08:00:00", "上课", "fired"});
    errors.removeAll(QString());
    return errors.join('\n');
}

} // namespace district
