// SPDX-License-Identifier: GPL-3.0-or-later
// The district view read from a real PostgreSQL server: what each account sees of the
// computers' heartbeats and reports, which computer is red and which clocks are flagged.
#include "central/district_status.h"
#include "support/pg_district.h"

#include <QtTest>

namespace {

// Reads day as user, in UTC.
DistrictDay ReadAs(const PgServer& server, const QString& user, const QDate& day, QString* error) {
    DistrictDay result;
    int version = 0;
    const QString name = "view-" + user;
    if (OpenCentralDatabase(server.Central(user), name, &version, error)) {
        ReadDistrictDay(name, day, "UTC", &result, error);
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    return result;
}

QString Line(const ComputerStatus& c) {
    return QStringLiteral("%1 %2 %3/%4/%5/%6%7 %8")
        .arg(c.site, c.computer)
        .arg(c.fired)
        .arg(c.missed)
        .arg(c.failed)
        .arg(c.skipped)
        .arg(c.red ? " red" : "", c.clockFlag);
}

} // namespace

class TestDistrictStatus : public QObject {
    Q_OBJECT

private slots:
    void theAdministratorSeesEveryComputerAndAnEditorItsSites() {
        PgServer server;
        QDate today;
        if (const QString why = server.Start(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        const QString failed = district::Fill(server, &today);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QString error;
        const DistrictDay all = ReadAs(server, "it_admin", today, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(all.today);
        QCOMPARE(all.computers.size(), 3);
        // pa_a2 went quiet 4 minutes ago while its site's bells ring; its clock and pa_a1's are
        // 60 ms apart, each near enough the server's.
        QCOMPARE(Line(all.computers[0]),
                 QString("一号楼 a-101 2/0/1/1 同一站点的时钟相差 60 毫秒"));
        QCOMPARE(Line(all.computers[1]),
                 QString("一号楼 a-102 1/1/0/0 red 同一站点的时钟相差 60 毫秒"));
        QCOMPARE(Line(all.computers[2]), QString("二号楼 b-201 0/0/1/0 时钟未同步"));
        QCOMPARE(all.computers[1].problems, QStringList({"音频输出不可用", "区域 3 没有输出"}));
        QVERIFY(all.computers[1].heartbeatAgeSec >= 240);
        QCOMPARE(all.computers[0].account, QString("pa_a1"));
        QCOMPARE(all.computers[0].nextBell, QString("14:00:00 上课"));
        QCOMPARE(all.failures.size(), 3);
        QCOMPARE(all.failures[0].computer + " " + all.failures[0].reason, QString("b-201 x"));
        QCOMPARE(all.failures[1].outcome + " " + all.failures[1].event, QString("missed 下课"));
        QCOMPARE(all.failures[1].lateMs, std::optional<int>(95000));
        QCOMPARE(all.failures[2].time + " " + all.failures[2].reason,
                 QString("09:00:00 does not exist"));

        // The editor of 一号楼 sees its two computers alone.
        const DistrictDay mine = ReadAs(server, "desk_a", today, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(mine.computers.size(), 2);
        QCOMPARE(mine.failures.size(), 2);
        QVERIFY(mine.computers[1].red);

        // Yesterday only pa_a1 reported: pa_a2 was silent on a day its site rang.
        const DistrictDay before = ReadAs(server, "desk_a", today.addDays(-1), &error);
        QVERIFY(!before.today);
        QCOMPARE(Line(before.computers[0]),
                 QString("一号楼 a-101 1/0/0/0 同一站点的时钟相差 60 毫秒"));
        QVERIFY(before.computers[1].red);
        QVERIFY(before.failures.isEmpty());

        // A computer cannot look at the others.
        QCOMPARE(ReadAs(server, "pa_a1", today, &error).computers.size(), 1);
    }

    void aComputerHeardAgainOrAfterItsLastBellIsNotRed() {
        DistrictDay day;
        day.day = QDate(2026, 12, 8);
        day.today = true;
        day.serverNow = QDateTime(day.day, QTime(16, 0));
        ComputerStatus late;
        late.site = "一号楼";
        late.heartbeat = QDateTime(day.day, QTime(15, 50));
        late.heartbeatAgeSec = 600;
        late.firstBell = "08:00:00";
        late.lastBell = "17:30:00";
        ComputerStatus silentSinceYesterday = late;
        silentSinceYesterday.heartbeat = QDateTime(day.day.addDays(-1), QTime(17, 0));
        silentSinceYesterday.lastBell = "12:00:00"; // yesterday's; today's is the site's
        ComputerStatus fresh = late;
        fresh.heartbeatAgeSec = 20;
        day.computers = {late, silentSinceYesterday, fresh};
        JudgeDistrictDay(&day);
        QVERIFY(day.computers[0].red && day.computers[1].red && !day.computers[2].red);
        day.serverNow = QDateTime(day.day, QTime(17, 45)); // the day's bells have all rung
        JudgeDistrictDay(&day);
        QVERIFY(!day.computers[0].red && !day.computers[1].red);
        day.serverNow = QDateTime(day.day, QTime(6, 30)); // switched off for the night
        JudgeDistrictDay(&day);
        QVERIFY(!day.computers[0].red && !day.computers[1].red);

        // A whole site not heard today goes by the hours each computer sent last.
        day.serverNow = QDateTime(day.day, QTime(10, 0));
        day.computers = {silentSinceYesterday};
        JudgeDistrictDay(&day);
        QVERIFY(day.computers[0].red);
    }
};

QTEST_GUILESS_MAIN(TestDistrictStatus)
#include "test_district_status.moc"
