// SPDX-License-Identifier: GPL-3.0-or-later
// One computer following its site on a real PostgreSQL server that misbehaves: it hangs
// (stopped, its connections up), it crashes, or it sends a burst of changes.
#include "central/central.h"
#include "central/follower.h"
#include "support/log_capture.h"
#include "support/pg_server.h"
#include "support/temp_store.h"
#include "windows/main/central_line.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

const QString kSite = QStringLiteral("一号楼");

EventRow Bell(const QString& name) {
    return {0,          "星期一", name, "08:00:00", "/bells/" + name + ".wav",
            "00:00:05", "√",      "",   "111111"};
}

QStringList Texts(const QVector<EventRow>& rows) {
    QStringList texts;
    for (const EventRow& r : rows) {
        texts << QStringLiteral("%1 %2 %3 %4").arg(r.id).arg(r.event, r.startTime, r.musicFile);
    }
    return texts;
}

// A server with site kSite, the site's editor, and this computer's store following it.
struct Rig {
    QString Start(CentralFollower::Timing timing) {
        if (const QString why = server.Start(); !why.isEmpty()) {
            return why;
        }
        QString error;
        auto owner = CentralStore::Open(server.Central(), &error);
        if (!owner || !owner->AddSite(kSite, &error) ||
            !(site = OpenCentralSite(server.Central(), kSite, &error))) {
            return "the site cannot be made: " + error;
        }
        follower = std::make_unique<CentralFollower>(server.Central(), kSite, local.path, timing);
        follower->Start();
        return {};
    }
    QVector<EventRow> Events(Conn& conn) {
        QVector<EventRow> rows;
        conn.AllEvents(&rows);
        return rows;
    }

    PgServer server;
    TempStore local;
    std::unique_ptr<Conn> site;
    std::unique_ptr<CentralFollower> follower;
};

} // namespace

class TestFollower : public QObject {
    Q_OBJECT

private slots:
    void aHungServerIsAnOutageAndNeverHoldsUpTheEnd() {
        Rig rig;
        if (const QString why = rig.Start({60000, 200, 1000}); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QTRY_VERIFY(rig.follower->Reachable());
        LogCapture log;
        QVERIFY(rig.server.Freeze(true));
        QTRY_VERIFY_WITH_TIMEOUT(
            CentralOutageText(rig.follower->State()).startsWith("中心时间表不可达"), 30000);
        QCOMPARE(log.Lines({"cannot be reached for site 一号楼 (中心服务器 1 秒没有应答)"}).size(),
                 1);

        // It answers again: the follower catches up, the change made meanwhile included.
        QVERIFY(rig.server.Freeze(false));
        QVERIFY(rig.site->AddEvent(Bell("恢复"), nullptr));
        QTRY_VERIFY_WITH_TIMEOUT(CentralOutageText(rig.follower->State()).isEmpty(), 30000);
        QTRY_COMPARE(Texts(rig.Events(*rig.local.conn)), Texts(rig.Events(*rig.site)));

        // Hung again, the program ends while the follower tries a new connection (its
        // connect is not cut, yet it is not waited for).
        QVERIFY(rig.server.Freeze(true));
        QTRY_VERIFY_WITH_TIMEOUT(!CentralOutageText(rig.follower->State()).isEmpty(), 30000);
        QTest::qWait(1000);
        QElapsedTimer took;
        took.start();
        rig.follower.reset();
        const qint64 ms = took.elapsed();
        qInfo("the follower ended in %lld ms, %d thread(s) left running", ms,
              CentralThread::LeftRunning());
        QVERIFY(rig.server.Freeze(false));
        QVERIFY2(ms < 10000, qPrintable(QString::number(ms)));
        // A thread left inside libpq's connect ends by itself once the server answers.
        QTRY_COMPARE_WITH_TIMEOUT(CentralThread::LeftRunning(), 0, 30000);
    }

    void aConnectionBrokenBetweenCallsIsReportedWithAReason() {
        Rig rig;
        if (const QString why = rig.Start({200, 60000}); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QTRY_VERIFY(rig.follower->Reachable());
        LogCapture log;
        QVERIFY(rig.server.Crash()); // the next copy meets a connection libpq found dead
        QTRY_VERIFY(!CentralOutageText(rig.follower->State()).isEmpty());
        const QStringList lines = log.Lines({"cannot be reached"});
        QCOMPARE(lines.size(), 1);
        QVERIFY2(!lines[0].contains("()"), qPrintable(lines[0]));
    }

    // A computer set up before its site: the site's creation is copied at once, not at the
    // next check, and the log says the site arrived (the server was there all along).
    void aSiteMadeAfterItsComputerIsCopiedOnItsCreation() {
        PgServer server;
        if (const QString why = server.Start(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QString error;
        auto owner = CentralStore::Open(server.Central(), &error);
        QVERIFY2(owner, qPrintable(error));
        TempStore local;
        LogCapture log;
        CentralFollower follower(server.Central(), "三号楼", local.path, {600000, 600000});
        follower.Start();
        QTRY_VERIFY(!CentralOutageText(follower.State()).isEmpty());
        QVERIFY(!follower.LastCopy().isValid());
        QVERIFY2(owner->AddSite("三号楼", &error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(follower.LastCopy().isValid(), 5000);
        QCOMPARE(log.Lines({"site 三号楼 now exists on the central timetable"}).size(), 1);
        QVERIFY2(log.Lines({"reachable again"}).isEmpty(), qPrintable(log.Text()));
    }

    void aBurstOfChangesIsOneCopyOfJustThoseRows() {
        Rig rig;
        if (const QString why = rig.Start({}); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        // Each copy says how many rows it changed. The line is written on this thread, after
        // the copy is already in the store: counts are awaited, not read once.
        LogCapture log;
        int before = 0;
        const auto said = [&] {
            int n = 0;
            for (const QString& line : log.Lines({"copied site 一号楼: "})) {
                n += line.section(": ", -1).section(' ', 0, 0).toInt();
            }
            return n - before;
        };
        qint64 gone = 0, moved = 0;
        QVERIFY(rig.site->AddEvent(Bell("下课"), &gone) &&
                rig.site->AddEvent(Bell("上课"), &moved));
        QVERIFY(rig.site->AddSpecialDays({{0, "2026-12-25", kNoBellsKind, "圣诞"}}));
        QTRY_COMPARE(said(), 3);
        before = 3;
        QSignalSpy pulled(rig.follower.get(), &CentralFollower::Pulled);

        // An editor's save: rows deleted, changed and added, a special day given again
        // under a new id (its date is unique), each change its own notification.
        EventRow changed = Bell("上课");
        changed.id = moved;
        changed.startTime = "08:10:00";
        QVector<SpecialDayRow> days;
        QVERIFY(rig.site->DeleteRows(GridQuery::WeekDay("星期一"), {gone}) &&
                rig.site->UpdateEvent(changed) && rig.site->SpecialDays(&days) &&
                rig.site->DeleteSpecialDays({days[0].id}) &&
                rig.site->AddSpecialDays({{0, "2026-12-25", "星期五", "补课"}}));
        for (int i = 0; i < 40; ++i) {
            QVERIFY(rig.site->AddEvent(Bell(QStringLiteral("加铃%1").arg(i)), nullptr));
        }
        QTRY_COMPARE(Texts(rig.Events(*rig.local.conn)), Texts(rig.Events(*rig.site)));
        QVector<SpecialDayRow> copied;
        QVERIFY(rig.site->SpecialDays(&days) && rig.local.conn->SpecialDays(&copied));
        QCOMPARE(copied, days);
        // One deleted, one moved, the special day's old and new ids, forty added.
        QTRY_COMPARE(said(), 44);
        QTest::qWait(500); // a copy still to come would show here
        QCOMPARE(said(), 44);
        QVERIFY2(pulled.count() <= 5, qPrintable(QString::number(pulled.count())));
    }
};

QTEST_MAIN(TestFollower)
#include "test_follower.moc"
