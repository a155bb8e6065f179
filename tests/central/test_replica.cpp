// SPDX-License-Identifier: GPL-3.0-or-later
// A following computer's copy of its site, applied to its store.
#include "central/replica.h"
#include "store/conn.h"
#include "support/temp_store.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

namespace {

// A site's copy as a following computer receives it: every replicated table of store.
SiteCopy CopyOf(Conn& store) {
    SiteCopy copy{QStringLiteral("一号楼"), {}, {}};
    for (const ReplicatedTable& t : ReplicatedTables()) {
        QSqlQuery q(Db(store));
        q.exec(ReplicaSelectSql(t, t.table, QString()));
        copy.rows << ReplicaRows(q, t.columns.size());
    }
    copy.zoneSinks.resize(copy.rows[ReplicatedZonesIndex()].size());
    return copy;
}

// Every row of the tables a copy writes, and what the store remembers, as text.
QStringList Contents(Conn& store) {
    QStringList rows;
    for (const QString& table :
         QStringList{"作息表", "课间音乐", "替代音乐", "特殊日期", "config", "区域设置", "记忆"}) {
        QSqlQuery q(Db(store));
        q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(table));
        while (q.next()) {
            QStringList values{table};
            for (int c = 0; c < q.record().count(); ++c) {
                values << (q.isNull(c) ? "Null" : q.value(c).toString());
            }
            rows << values.join('|');
        }
    }
    return rows;
}

} // namespace

class TestReplica : public QObject {
    Q_OBJECT

private slots:
    // A site's copy that breaks off half-way (a special day the local file refuses, after the
    // timetable was already written) leaves this computer's store exactly as it was: its bells
    // ring from one whole copy or the other, never from a mix of the two.
    void aSiteCopyThatFailsHalfWayLeavesTheStoreAsItWas() {
        TempStore site, local;
        local.AddEvent({0, "星期一", "旧铃", "08:00:00", "/m/old.wav", "", "√", "", "111111"});
        QVERIFY(local.AddSong("曲库_旧", "/m/old.mp3", "00:01:00") > 0);
        site.AddEvent({0, "星期一", "新铃", "08:05:00", "/m/new.wav", "", "√", "", "111111"});
        QVERIFY(site.AddSong("曲库_新", "/m/new.mp3", "00:01:00") > 0);
        SiteCopy copy = CopyOf(*site.conn);
        QVector<QVector<QVariant>>& days = copy.rows[3];
        QCOMPARE(ReplicatedTables()[3].table, QString("特殊日期"));
        days = {{1, "2026-10-01", kNoBellsKind, "国庆节"}, {2, "2026-10-01", kNoBellsKind, ""}};
        const QStringList before = Contents(*local.conn);
        int changed = 0;
        QString error;
        QVERIFY(!ApplySiteCopy(*local.conn, copy, QDateTime::currentDateTime(), &changed, &error));
        QVERIFY2(error.contains("UNIQUE"), qPrintable(error));
        QCOMPARE(Contents(*local.conn), before);
        // The next whole copy is taken as a whole.
        days.removeLast();
        QVERIFY2(ApplySiteCopy(*local.conn, copy, QDateTime::currentDateTime(), &changed, &error),
                 qPrintable(error));
        QCOMPARE(changed, 3); // an event and a song edited, a special day added
        QVERIFY(ApplySiteCopy(*local.conn, copy, QDateTime::currentDateTime(), &changed, &error));
        QCOMPARE(changed, 0);
        QCOMPARE(local.TodayEvents("星期一", "00:00:00").value(0).event, QString("新铃"));
        QCOMPARE(local.LibrarySongs("曲库_旧").size(), 0);
    }
};

QTEST_MAIN(TestReplica)
#include "test_replica.moc"
