// One computer following its site on a real PostgreSQL server that misbehaves: it hangs
// (stopped, its connections up), it crashes, or it sends a burst of changes.
#include "store/central.h"
#include "store/follower.h"
#include "support/log_capture.h"
#include "support/pg_server.h"
#include "support/temp_store.h"

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
            !(site = Conn::OpenCentral(server.Central(), kSite, &error))) {
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
        QTRY_VERIFY_WITH_TIMEOUT(rig.follower->OutageText().startsWith("中心时间表不可达"), 30000);
        QCOMPARE(log.Lines({"cannot be reached for site 一号楼 (中心服务器 1 秒没有应答)"}).size(),
                 1);

        // It answers again: the follower catches up, the change made meanwhile included.
        QVERIFY(rig.server.Freeze(false));
        QVERIFY(rig.site->AddEvent(Bell("恢复"), nullptr));
        QTRY_VERIFY_WITH_TIMEOUT(rig.follower->OutageText().isEmpty(), 30000);
        QTRY_COMPARE(Texts(rig.Events(*rig.local.conn)), Texts(rig.Events(*rig.site)));

        // Hung again, the program ends while the follower tries a new connection (its
        // connect is not cut, yet it is not waited for).
        QVERIFY(rig.server.Freeze(true));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.follower->OutageText().isEmpty(), 30000);
        QTest::qWait(1000);
        QElapsedTimer took;
        took.start();
        rig.follower.reset();
        const qint64 ms = took.elapsed();
        qInfo("the follower ended in %lld ms, %d thread(s) left running", ms,
              CentralFollower::ThreadsLeftRunning());
        QVERIFY(rig.server.Freeze(false));
        QVERIFY2(ms < 10000, qPrintable(QString::number(ms)));
        // A thread left inside libpq's connect ends by itself once the server answers.
        QTRY_COMPARE_WITH_TIMEOUT(CentralFollower::ThreadsLeftRunning(), 0, 30000);
    }

    void aConnectionBrokenBetweenCallsIsReportedWithAReason() {
        Rig rig;
        if (const QString why = rig.Start({200, 60000}); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QTRY_VERIFY(rig.follower->Reachable());
        LogCapture log;
        QVERIFY(rig.server.Crash()); // the next copy meets a connection libpq found dead
        QTRY_VERIFY(!rig.follower->OutageText().isEmpty());
        const QStringList lines = log.Lines({"cannot be reached"});
        QCOMPARE(lines.size(), 1);
        QVERIFY2(!lines[0].contains("()"), qPrintable(lines[0]));
    }
};

QTEST_MAIN(TestFollower)
#include "test_follower.moc"
