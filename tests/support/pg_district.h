// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/central.h"
#include "store/outcome_names.h"
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
inline QString Run(const PgServer& server, const QString& user, const QString& sql) {
    return server.RunAs(user, sql);
}

// What a computer sends, as its own account through the statements a follower uses: its
// heartbeat, and its records of day ("hh:mm:ss|event|outcome key|reason|late ms").
inline QString Beat(const PgServer& s, const QString& account, const QString& site,
                    const QString& host, const QStringList& problems, bool synced, int offsetMs) {
    QString error;
    auto store = CentralStore::Open(s.Central(account), &error);
    const Heartbeat beat{host,       "1.4", "14:00:00 上课", "00:00:00",
                         "23:59:59", "",    problems,        synced};
    return store && store->SendHeartbeat(site, beat, offsetMs, &error) ? QString() : error;
}
inline QString Records(const PgServer& s, const QString& account, const QString& site,
                       const QString& host, const QDate& day, const QStringList& lines) {
    QVector<QueuedRecordRow> rows;
    for (const QString& line : lines) {
        const QStringList f = line.split('|');
        PlayOutcome outcome{};
        OutcomeFromKey(f[2], &outcome);
        rows << QueuedRecordRow{0,
                                site,
                                PlayRecordRow{0, day.toString(Qt::ISODate), f[0], f[1],
                                              "/bells/" + f[1] + ".wav", outcome,
                                              f.size() > 4 ? f[4].toInt() : -1, f.value(3)},
                                {}};
    }
    QString error;
    auto store = CentralStore::Open(s.Central(account), &error);
    return store && store->SendRecords(rows, host, &error) ? QString() : error;
}

// On a started server the owner makes the central tables and sites, then the superuser
// runs each statement (the accounts, what 站点权限 gives them). What failed, or empty.
inline QString MakeSites(PgServer& server, const QStringList& sites,
                         const QStringList& statements) {
    QString error;
    auto owner = CentralStore::Open(server.Central(), &error);
    for (const QString& site : sites) {
        if (!owner || !owner->AddSite(site, &error)) {
            return "the owner cannot make the sites: " + error;
        }
    }
    owner.reset();
    for (const QString& sql : statements) {
        if (const QString e = Run(server, "belvoran", sql); !e.isEmpty()) {
            return e;
        }
    }
    return {};
}

// Fills the district's day on a started server; the date in UTC into *today. What failed,
// or empty.
inline QString Fill(PgServer& server, QDate* today) {
    QStringList errors;
    errors << MakeSites(
        server, {"一号楼", "二号楼"},
        {"CREATE ROLE pa_a1 LOGIN IN ROLE belvoran_follower",
         "CREATE ROLE pa_a2 LOGIN IN ROLE belvoran_follower",
         "CREATE ROLE pa_b LOGIN IN ROLE belvoran_follower",
         "CREATE ROLE desk_a LOGIN IN ROLE belvoran_editor",
         "CREATE ROLE it_admin LOGIN IN ROLE belvoran_admin",
         "INSERT INTO 站点权限 VALUES ('pa_a1', '一号楼', false), ('pa_a2', '一号楼', false), "
         "('pa_b', '二号楼', false), ('desk_a', '一号楼', true)"});
    *today = QDateTime::currentDateTimeUtc().date();
    const QString a = "一号楼", b = "二号楼";
    errors << Beat(server, "pa_a1", a, "a-101", {}, true, 10)
           << Beat(server, "pa_a2", a, "a-102", {"音频输出不可用", "区域 3 没有输出"}, true, 70)
           << Beat(server, "pa_b", b, "b-201", {}, false, 0)
           << Run(server, "belvoran",
                  "UPDATE 计算机状态 SET 心跳 = now() - interval '4 minutes' WHERE 账户 = 'pa_a2'")
           << Records(server, "pa_a1", a, "a-101", *today,
                      {"08:00:00|上课|fired", "08:45:00|下课|fired",
                       "09:00:00|上课|failed|does not exist", "10:00:00|眼保健操|skipped"})
           // sent again, its answer lost: counted once
           << Records(server, "pa_a1", a, "a-101", *today, {"10:00:00|眼保健操|skipped"})
           << Records(server, "pa_a2", a, "a-102", *today,
                      {"08:00:00|上课|fired", "08:45:00|下课|missed||95000"})
           << Records(server, "pa_b", b, "b-201", *today, {"08:00:00|上课|failed|x"})
           << Records(server, "pa_a1", a, "a-101", today->addDays(-1), {"08:00:00|上课|fired"});
    errors.removeAll(QString());
    return errors.join('\n');
}

} // namespace district
