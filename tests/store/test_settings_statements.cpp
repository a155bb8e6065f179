// SPDX-License-Identifier: GPL-3.0-or-later
// The statements behind the settings window: a grid's rows from a named query, the
// delete of a block of rows, and copying a weekday, each all-or-nothing.
#include "store/conn.h"
#include "support/temp_store.h"

#include <QtTest>

namespace {

EventRow Event(const QString& week, const QString& name, const QString& start,
               const QString& file = "/m/bell.wav", const QString& flag = "√") {
    return {0, week, name, start, file, "00:00:05", flag, "", "111111"};
}

// The weekday's events as the week grid shows them: (事件, 开始时间) in start-time order.
QStringList Day(TempStore& s, const QString& week) {
    GridData data;
    if (!s.conn->GridRows(GridQuery::WeekDay(week), &data, &s.error)) {
        return {"read failed: " + s.error};
    }
    QStringList out;
    for (const auto& row : data.rows) {
        out << row[2].toString() + "@" + row[3].toString();
    }
    return out;
}

} // namespace

class TestSettingsStatements : public QObject {
    Q_OBJECT

private slots:
    void gridRowsHaveEveryColumnInTableOrderFilteredAndOrdered() {
        TempStore s;
        s.AddEvent(Event("星期一", "late", "10:00:00"));
        s.AddEvent(Event("星期一", "early", "08:00:00"));
        s.AddEvent(Event("星期二", "other day", "07:00:00"));
        GridData data;
        QVERIFY(s.conn->GridRows(GridQuery::WeekDay("星期一"), &data, &s.error));
        QCOMPARE(data.columns, TableColumns("作息表"));
        QCOMPARE(Day(s, "星期一"), QStringList({"early@08:00:00", "late@10:00:00"}));
    }

    void anEmptyResultStillNamesTheColumns() {
        TempStore s;
        GridData data;
        QVERIFY(s.conn->GridRows(GridQuery::Replacements(), &data, &s.error));
        QVERIFY(data.rows.isEmpty());
        QCOMPARE(data.columns, QStringList({"id", "替代名称", "音乐文件", "音乐总长"}));
    }

    void aQueryNamingNoGridIsRefused() {
        TempStore s;
        s.AddEvent(Event("星期一", "bell", "08:00:00"));
        GridData data;
        QVERIFY(!s.conn->GridRows(GridQuery(), &data, &s.error));
        QVERIFY(!s.error.isEmpty());
        QCOMPARE(Day(s, "星期一").size(), 1);
    }

    void theFilterValueIsBoundSoQuotesMatchOnlyThemselves() {
        TempStore s;
        s.AddSong("曲库_it's \"ours\"", "/m/a.mp3", "00:03:00");
        s.AddSong("曲库_other", "/m/b.mp3", "00:03:00");
        GridData data;
        QVERIFY(s.conn->GridRows(GridQuery::LibrarySongs("曲库_it's \"ours\""), &data, &s.error));
        QCOMPARE(data.rows.size(), 1);
        QCOMPARE(data.rows[0][2].toString(), QString("/m/a.mp3"));
        QVERIFY(s.conn->GridRows(GridQuery::LibrarySongs("x' OR '1'='1"), &data, &s.error));
        QCOMPARE(data.rows.size(), 0);
    }

    void deleteRowsDeletesExactlyTheGivenIds() {
        TempStore s;
        QVector<qint64> ids;
        for (int i = 0; i < 5; ++i) {
            ids << s.AddEvent(Event("星期一", QString("e%1").arg(i), QString("0%1:00:00").arg(i)));
        }
        QVERIFY(s.conn->DeleteRows(GridQuery::WeekDay("星期一"), {ids[1], ids[3]}, &s.error));
        QCOMPARE(Day(s, "星期一"), QStringList({"e0@00:00:00", "e2@02:00:00", "e4@04:00:00"}));
    }

    void deleteRowsIsAllOrNothing() {
        TempStore s;
        QVector<qint64> ids;
        for (int i = 0; i < 4; ++i) {
            ids << s.AddEvent(Event("星期一", QString("e%1").arg(i), QString("0%1:00:00").arg(i)));
        }
        s.Raw(QString("CREATE TRIGGER keep BEFORE DELETE ON 作息表 WHEN OLD.id = %1 "
                      "BEGIN SELECT RAISE(ABORT, 'row is locked'); END")
                  .arg(ids[2]));
        QVERIFY(!s.conn->DeleteRows(GridQuery::WeekDay("星期一"), {ids[0], ids[1], ids[2], ids[3]},
                                    &s.error));
        QVERIFY2(s.error.contains("row is locked"), qPrintable(s.error));
        QCOMPARE(Day(s, "星期一").size(), 4);
    }

    void deleteRowsRefusesAQueryNamingNoGrid() {
        TempStore s;
        QVERIFY(!s.conn->DeleteRows(GridQuery(), {1}, &s.error));
        ConfigRow config;
        QVERIFY(s.ReadConfig(&config));
    }

    void copyDayReplacesEachTargetWithEveryRowOfTheSource() {
        TempStore s;
        s.AddEvent(Event("星期一", "上课", "08:00:00"));
        s.AddEvent(Event("星期一", "曲库_轻音乐", "09:50:00", "课间音乐曲库"));
        s.AddEvent(Event("星期一", "off", "11:00:00", "/m/x.wav", ""));
        s.AddEvent(Event("星期二", "old tuesday", "07:00:00"));
        s.AddEvent(Event("星期六", "old saturday", "07:00:00"));
        s.AddEvent(Event("星期三", "wednesday stays", "07:00:00"));
        QVERIFY2(s.conn->CopyDay("星期一", {"星期二", "星期六"}, &s.error), qPrintable(s.error));
        const QStringList monday = Day(s, "星期一");
        QCOMPARE(monday.size(), 3);
        QCOMPARE(Day(s, "星期二"), monday);
        QCOMPARE(Day(s, "星期六"), monday);
        QCOMPARE(Day(s, "星期三"), QStringList({"wednesday stays@07:00:00"}));
    }

    void copiesKeepEveryColumnAndGetNewIds() {
        TempStore s;
        const QString nasty = "it's a \"quoted\" name";
        const QString path = "/music/it's \"here\".mp3";
        const qint64 id =
            s.AddEvent({0, "星期一", nasty, "08:00:00", path, "00:01:02", "", nasty, "101010"});
        QVERIFY(s.conn->CopyDay("星期一", {"星期五"}, &s.error));
        GridData data;
        QVERIFY(s.conn->GridRows(GridQuery::WeekDay("星期五"), &data, &s.error));
        QCOMPARE(data.rows.size(), 1);
        const auto& row = data.rows[0];
        QVERIFY(row[0].toLongLong() != id);
        QCOMPARE(row[1].toString(), QString("星期五"));
        QCOMPARE(row[2].toString(), nasty);
        QCOMPARE(row[3].toString(), QString("08:00:00"));
        QCOMPARE(row[4].toString(), path);
        QCOMPARE(row[5].toString(), QString("00:01:02"));
        QCOMPARE(row[6].toString(), QString(""));
        QCOMPARE(row[7].toString(), nasty);
        QCOMPARE(row[8].toString(), QString("101010"));
    }

    void aCopyFailingHalfWayLeavesEveryTargetAsItWas() {
        TempStore s;
        for (int i = 0; i < 3; ++i) {
            s.AddEvent(Event("星期一", QString("m%1").arg(i), QString("0%1:00:00").arg(i)));
        }
        s.AddEvent(Event("星期二", "old tuesday", "07:00:00"));
        s.AddEvent(Event("星期六", "old saturday", "07:00:00"));
        // The third row inserted into the targets fails.
        s.Raw("CREATE TRIGGER full BEFORE INSERT ON 作息表 WHEN (SELECT count(*) FROM 作息表 "
              "WHERE 星期名 IN ('星期二', '星期六')) >= 2 "
              "BEGIN SELECT RAISE(ABORT, 'disk is full'); END");
        QVERIFY(!s.conn->CopyDay("星期一", {"星期二", "星期六"}, &s.error));
        QVERIFY2(s.error.contains("disk is full"), qPrintable(s.error));
        QCOMPARE(Day(s, "星期二"), QStringList({"old tuesday@07:00:00"}));
        QCOMPARE(Day(s, "星期六"), QStringList({"old saturday@07:00:00"}));
        QCOMPARE(Day(s, "星期一").size(), 3);
    }

    void aReadOnlyStoreChangesNothing() {
        TempStore s;
        s.AddEvent(Event("星期一", "bell", "08:00:00"));
        s.AddEvent(Event("星期二", "old tuesday", "07:00:00"));
        s.Raw("PRAGMA query_only = 1");
        QVERIFY(!s.conn->CopyDay("星期一", {"星期二"}, &s.error));
        QVERIFY(!s.error.isEmpty());
        QCOMPARE(Day(s, "星期二"), QStringList({"old tuesday@07:00:00"}));
    }

    void aDayIsNeverCopiedOntoItselfOrTwiceOntoOneTarget() {
        TempStore s;
        s.AddEvent(Event("星期一", "bell", "08:00:00"));
        QVERIFY(!s.conn->CopyDay("星期一", {"星期二", "星期一"}, &s.error));
        QCOMPARE(Day(s, "星期一").size(), 1);
        QCOMPARE(Day(s, "星期二").size(), 0);
        QVERIFY(s.conn->CopyDay("星期一", {"星期二", "星期二"}, &s.error));
        QCOMPARE(Day(s, "星期二").size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSettingsStatements)
#include "test_settings_statements.moc"
