// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and rewriting one timetable event by its id: the statements the event editor uses.
#include "store/conn.h"
#include "support/temp_store.h"

#include <QtTest>

namespace {

EventRow Bell(const QString& name) {
    return {0, "星期一", name, "08:00:00", "/music/bell.wav", "00:00:05", "√", "", "111111"};
}

} // namespace

class TestEventStatements : public QObject {
    Q_OBJECT

private slots:
    void readsOneEventById() {
        TempStore s;
        s.AddEvent(Bell("first"));
        const qint64 id = s.AddEvent(Bell("second"));
        EventRow row;
        QVERIFY(s.conn->EventById(id, &row));
        QCOMPARE(row.id, id);
        QCOMPARE(row.event, QString("second"));
        QCOMPARE(row.zones, QString("111111"));
    }

    void readingAMissingEventFailsWithAReason() {
        TempStore s;
        EventRow row;
        QString error;
        QVERIFY(!s.conn->EventById(42, &row, &error));
        QVERIFY2(error.contains("不存在"), qPrintable(error));
    }

    void updateRewritesOnlyThatRow() {
        TempStore s;
        const qint64 keep = s.AddEvent(Bell("keep"));
        const qint64 id = s.AddEvent(Bell("old"));
        EventRow changed{id,         "星期二", "it's \"new\"", "09:10:11", "/a'b/\"c\".mp3",
                         "00:03:25", "",       "雨天",         "100001"};
        QString error;
        QVERIFY2(s.conn->UpdateEvent(changed, &error), qPrintable(error));
        EventRow row;
        QVERIFY(s.conn->EventById(id, &row));
        QCOMPARE(row.weekName, changed.weekName);
        QCOMPARE(row.event, changed.event);
        QCOMPARE(row.startTime, changed.startTime);
        QCOMPARE(row.musicFile, changed.musicFile);
        QCOMPARE(row.musicLength, changed.musicLength);
        QCOMPARE(row.playFlag, QString(""));
        QVERIFY(!row.playFlag.isNull()); // written as the empty text, not Null
        QCOMPARE(row.replace, changed.replace);
        QCOMPARE(row.zones, changed.zones);
        QVERIFY(s.conn->EventById(keep, &row));
        QCOMPARE(row.event, QString("keep"));
    }

    void updateOfADeletedRowFailsAndWritesNothing() {
        TempStore s;
        const qint64 id = s.AddEvent(Bell("gone"));
        s.Raw(QString("DELETE FROM 作息表 WHERE id=%1").arg(id));
        EventRow changed = Bell("changed");
        changed.id = id;
        QString error;
        QVERIFY(!s.conn->UpdateEvent(changed, &error));
        QVERIFY2(error.contains("不存在"), qPrintable(error));
        QSqlQuery q(Db(*s.conn));
        QVERIFY(q.exec("SELECT count(*) FROM 作息表"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 0);
    }
};

QTEST_GUILESS_MAIN(TestEventStatements)
#include "test_event_statements.moc"
