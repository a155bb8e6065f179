// SPDX-License-Identifier: GPL-3.0-or-later
// The special-days table: the upgrade that brings it to a first-release store, and its
// statements (list, add a range in one go, a date made special twice, refusals, delete).
#include "store/conn.h"
#include "support/temp_store.h"

#include <QSqlQuery>
#include <QtTest>

namespace {

QVector<SpecialDayRow> Days(Conn& conn) {
    QVector<SpecialDayRow> rows;
    QString error;
    if (!conn.SpecialDays(&rows, &error)) {
        qWarning("%s", qPrintable(error));
    }
    return rows;
}

QStringList Texts(const QVector<SpecialDayRow>& rows) {
    QStringList out;
    for (const SpecialDayRow& r : rows) {
        out << r.date + "|" + r.kind + "|" + r.note;
    }
    return out;
}

int Count(Conn& conn, const QString& table) {
    QSqlQuery q(Db(conn));
    if (!q.exec(QString("SELECT count(*) FROM %1").arg(table)) || !q.next()) {
        return -1;
    }
    return q.value(0).toInt();
}

} // namespace

class TestSpecialDayStatements : public QObject {
    Q_OBJECT

private slots:
    void aFirstReleaseStoreIsUpgradedOnceAndKeepsEveryRow() {
        TempStore s;
        for (int i = 0; i < 5; ++i) {
            QVERIFY(s.AddEvent({0, "星期一", QString("第%1节").arg(i), QString("08:0%1:00").arg(i),
                                "/m/'铃'.wav", "00:00:05", "√", "雨天操", "111111"}) > 0);
        }
        QVERIFY(s.AddSong("曲库_A", "/m/a.mp3", "00:03:00") > 0);
        QVERIFY(s.AddReplace("雨天操", "/m/rain.mp3", "00:05:00") > 0);
        s.Raw("UPDATE config SET 关机时间='17:30:00', 课间音乐='曲库_A'");
        // What the first release left: its four tables, and no version recorded.
        s.Raw("DROP TABLE 特殊日期");
        s.Raw("PRAGMA user_version=0");
        s.conn.reset();

        QString error;
        auto conn = Conn::Open(s.path, &error);
        QVERIFY2(conn, qPrintable(error));
        QCOMPARE(conn->SchemaVersion(), SchemaMigrations().last().to);
        QVERIFY(Db(*conn).tables().contains("特殊日期"));
        QCOMPARE(Count(*conn, "作息表"), 5);
        QCOMPARE(Count(*conn, "课间音乐"), 1);
        QCOMPARE(Count(*conn, "替代音乐"), 1);
        QCOMPARE(Count(*conn, "config"), 1);
        ConfigRow config;
        QVERIFY(conn->ReadConfig(&config));
        QCOMPARE(config.shutDownTime, QString("17:30:00"));
        QVector<EventRow> rows;
        QVERIFY(conn->TodayEvents("星期一", "", &rows));
        QCOMPARE(rows.first().musicFile, QString("/m/'铃'.wav"));
        QVERIFY(conn->AddSpecialDays({{0, "2026-10-01", kNoBellsKind, "国庆"}}, &error));
        conn.reset();

        // Opened again: nothing left to do, and nothing is written.
        const QByteArray before = FileBytes(s.path);
        conn = Conn::Open(s.path, &error);
        QVERIFY2(conn, qPrintable(error));
        QCOMPARE(Texts(Days(*conn)), QStringList({"2026-10-01|无铃声|国庆"}));
        conn.reset();
        QCOMPARE(FileBytes(s.path), before);
    }

    void aStoreNewerThanThisProgramIsRefusedWithAMessageAndLeftAlone() {
        TempStore s;
        s.Raw(QString("PRAGMA user_version=%1").arg(SchemaMigrations().last().to + 1));
        s.conn.reset();
        const QByteArray before = FileBytes(s.path);
        QString error;
        QVERIFY(!Conn::Open(s.path, &error));
        QVERIFY2(error.contains("更新版本"), qPrintable(error));
        QVERIFY2(error.contains(s.path), qPrintable(error));
        QCOMPARE(FileBytes(s.path), before);
    }

    void daysAreListedInDateOrder() {
        TempStore s;
        QString error;
        QVERIFY2(s.conn->AddSpecialDays({{0, "2026-10-02", kNoBellsKind, "国庆"},
                                         {0, "2026-09-27", "星期一", "调休"},
                                         {0, "2026-10-01", kNoBellsKind, "国庆"}},
                                        &error),
                 qPrintable(error));
        QCOMPARE(Texts(Days(*s.conn)),
                 QStringList({"2026-09-27|星期一|调休", "2026-10-01|无铃声|国庆",
                              "2026-10-02|无铃声|国庆"}));
        QVector<SpecialDayRow> on;
        QVERIFY(s.conn->SpecialDaysOn("2026-09-27", &on, &error));
        QCOMPARE(Texts(on), QStringList({"2026-09-27|星期一|调休"}));
        QVERIFY(s.conn->SpecialDaysOn("2026-09-28", &on, &error));
        QVERIFY(on.isEmpty());
    }

    void aDateMadeSpecialAgainTakesTheNewKindAndNote() {
        TempStore s;
        QVERIFY(s.conn->AddSpecialDays({{0, "2026-10-08", kNoBellsKind, "国庆"}}));
        QVERIFY(s.conn->AddSpecialDays({{0, "2026-10-08", "星期四", "调休上课"}}));
        QCOMPARE(Texts(Days(*s.conn)), QStringList({"2026-10-08|星期四|调休上课"}));
    }

    void aBadRowRefusesTheWholeSetAndSaysWhy_data() {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expect");
        QTest::newRow("no date") << ""
                                 << "无铃声"
                                 << "yyyy-MM-dd";
        QTest::newRow("other form") << "2026/10/01"
                                    << "无铃声"
                                    << "2026/10/01";
        QTest::newRow("no such day") << "2026-02-30"
                                     << "无铃声"
                                     << "2026-02-30";
        QTest::newRow("unknown kind") << "2026-10-01"
                                      << "周一"
                                      << "周一";
        QTest::newRow("quote injection") << "2026-10-01'); DROP TABLE 作息表; --"
                                         << "无铃声"
                                         << "DROP";
    }
    void aBadRowRefusesTheWholeSetAndSaysWhy() {
        QFETCH(QString, date);
        QFETCH(QString, kind);
        QFETCH(QString, expect);
        TempStore s;
        QString error;
        QVERIFY(!s.conn->AddSpecialDays(
            {{0, "2026-09-30", kNoBellsKind, "好的一天"}, {0, date, kind, ""}}, &error));
        QVERIFY2(error.contains(expect), qPrintable(error));
        QVERIFY(Days(*s.conn).isEmpty());
        QVERIFY(Db(*s.conn).tables().contains("作息表"));
    }

    void aFailureHalfWayAddsNothing() {
        TempStore s;
        // A trigger stands in for a disk that fills up on the third row.
        s.Raw("CREATE TRIGGER full BEFORE INSERT ON 特殊日期 WHEN NEW.日期='2026-10-03' "
              "BEGIN SELECT RAISE(ABORT, 'disk full'); END");
        QVector<SpecialDayRow> week;
        for (int d = 1; d <= 7; ++d) {
            week.push_back({0, QString("2026-10-0%1").arg(d), kNoBellsKind, "国庆"});
        }
        QString error;
        QVERIFY(!s.conn->AddSpecialDays(week, &error));
        QVERIFY2(error.contains("disk full"), qPrintable(error));
        QVERIFY(Days(*s.conn).isEmpty());
    }

    void notesWithQuotesRoundTrip() {
        TempStore s;
        const QString note = "Teachers' day \"trip\"; --";
        QVERIFY(s.conn->AddSpecialDays({{0, "2026-09-10", kNoBellsKind, note}}));
        QCOMPARE(Days(*s.conn).first().note, note);
    }

    void deleteRemovesExactlyTheGivenDays() {
        TempStore s;
        QVERIFY(s.conn->AddSpecialDays({{0, "2026-10-01", kNoBellsKind, "a"},
                                        {0, "2026-10-02", kNoBellsKind, "b"},
                                        {0, "2026-10-03", kNoBellsKind, "c"}}));
        const QVector<SpecialDayRow> all = Days(*s.conn);
        QString error;
        QVERIFY2(s.conn->DeleteSpecialDays({all[0].id, all[2].id}, &error), qPrintable(error));
        QCOMPARE(Texts(Days(*s.conn)), QStringList({"2026-10-02|无铃声|b"}));
    }
};

QTEST_GUILESS_MAIN(TestSpecialDayStatements)
#include "test_holiday_statements.moc"
