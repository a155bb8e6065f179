// SPDX-License-Identifier: GPL-3.0-or-later
// Who may do what on the central timetable, on a real PostgreSQL server: a follower's account
// that only reads, an editor held to its sites, every change recorded with who made it,
// nothing from the server run or opened on a following computer, and TLS that verifies.
#include "central/central.h"
#include "central/follower.h"
#include "support/engine_rig.h"
#include "support/pg_district.h"
#include "support/pg_server.h"
#include "widgets/my_button.h"
#include "windows/main/central_line.h"
#include "windows/settings/change_records_dialog.h"
#include "windows/settings/setting_form.h"
#include "windows/settings/zones_page.h"

#include <QLabel>
#include <QLineEdit>
#include <QSqlError>
#include <QTableWidget>
#include <QtTest>

namespace {

const QString kA = QStringLiteral("一号楼");
const QString kB = QStringLiteral("二号楼");

// The owner makes the sites, a PA computer's account that reads site A, and a desk's account
// that changes A and may look at B.
QString MakeDistrict(PgServer& server) {
    if (const QString why = server.Start(); !why.isEmpty()) {
        return why;
    }
    return district::MakeSites(
        server, {kA, kB},
        {"CREATE ROLE pa_a LOGIN IN ROLE belvoran_follower",
         "CREATE ROLE desk_a LOGIN IN ROLE belvoran_editor",
         "INSERT INTO 站点权限 VALUES ('pa_a', '一号楼', false), ('desk_a', '一号楼', true), "
         "('desk_a', '二号楼', false)"});
}

EventRow Bell(const QString& name, const QString& time) {
    return {0, "星期一", name, time, "/bells/" + name + ".wav", "00:00:05", "√", "", "111111"};
}

} // namespace

class TestCentralAccess : public QObject {
    Q_OBJECT

private slots:
    void eachAccountIsHeldToItsSitesAndEveryChangeRecorded() {
        PgServer server;
        if (const QString why = MakeDistrict(server); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QString error;
        // The desk changes site A: a bell added, moved and deleted, each recorded as its own.
        auto a = OpenCentralSite(server.Central("desk_a"), kA, &error);
        QVERIFY2(a, qPrintable(error));
        QCOMPARE(a->ReadOnlyReason(), QString());
        qint64 id = 0;
        QVERIFY2(a->AddEvent(Bell("上课", "08:00:00"), &id, &error), qPrintable(error));
        EventRow moved = Bell("上课", "08:05:00");
        moved.id = id;
        QVERIFY2(a->UpdateEvent(moved, &error), qPrintable(error));
        QVERIFY2(a->DeleteRows(GridQuery::WeekDay("星期一"), {id}, &error), qPrintable(error));
        QVector<ChangeRecordRow> records;
        QVERIFY2(a->ChangeRecords(&records, &error), qPrintable(error));
        QCOMPARE(records.size(), 4); // and first the owner's making of the site
        QCOMPARE(records[3].user + " " + records[3].table + " " + records[3].op,
                 QString("belvoran config INSERT"));
        QCOMPARE(records[0].op, QString("DELETE")); // newest first
        QCOMPARE(records[1].op, QString("UPDATE"));
        QCOMPARE(records[2].op, QString("INSERT"));
        for (const ChangeRecordRow& r : records.mid(0, 3)) {
            QCOMPARE(r.user, QString("desk_a"));
            QCOMPARE(r.table, QString("作息表"));
        }
        QCOMPARE(ChangeSummary(records[1]), QString("修改：开始时间 08:00:00 → 08:05:00"));
        QVERIFY(ChangeSummary(records[0]).startsWith("删除：") &&
                ChangeSummary(records[0]).contains("事件 上课") &&
                !ChangeSummary(records[0]).contains("站点")); // the key and site go unsaid
        // Nobody but the district's administrator may touch the records.
        QVERIFY(server.RunAs("desk_a", "DELETE FROM 修改记录").contains("permission denied"));

        // Site B the desk may only look at: read-only, saying why, and a write is refused.
        auto b = OpenCentralSite(server.Central("desk_a"), kB, &error);
        QVERIFY2(b, qPrintable(error));
        QVERIFY2(b->ReadOnlyReason().contains("desk_a") && b->ReadOnlyReason().contains(kB),
                 qPrintable(b->ReadOnlyReason()));
        QVERIFY(!b->AddEvent(Bell("越权", "09:00:00"), &id, &error));
        QVERIFY2(error.contains("row-level security"), qPrintable(error));
        {
            ProgramVars desk;
            desk.CurWeekName = "星期一";
            SettingsState state;
            FakePlayer player;
            SettingForm editor(desk, *b, player, state);
            editor.ShowReadOnlyFor(b->ReadOnlyReason());
            auto* add = editor.findChild<MyButton*>("MyBt_AddEvent");
            QVERIFY(!add->isEnabled());
            QCOMPARE(add->toolTip(), b->ReadOnlyReason());
            QCOMPARE(editor.findChild<QLabel*>("Lab_Managed")->text(), QString("只读"));
            QVERIFY(editor.findChild<MyButton*>("MyBt_ChangeRecords"));
        }
        {
            ChangeRecordsDialog dialog(*a);
            auto* grid = dialog.findChild<QTableWidget*>("Grid_ChangeRecords");
            QCOMPARE(grid->rowCount(), 4);
            QCOMPARE(grid->item(1, 1)->text(), QString("desk_a"));
        }
        // Two desks open one bell: the second to save fails instead of undoing the first's.
        QVERIFY(a->AddEvent(Bell("午休", "12:00:00"), &id, &error));
        auto desk2 = OpenCentralSite(server.Central("desk_a"), kA, &error);
        EventRow read1, read2;
        QVERIFY(a->EventById(id, &read1) && desk2->EventById(id, &read2));
        EventRow later = read2;
        later.startTime = "12:10:00";
        QVERIFY2(desk2->UpdateEvent(later, &error, &read2), qPrintable(error));
        EventRow renamed = read1;
        renamed.event = "午睡";
        QVERIFY(!a->UpdateEvent(renamed, &error, &read1));
        QVERIFY2(error.contains("已被别处修改"), qPrintable(error));
        QVERIFY(a->EventById(id, &read1) && read1.startTime == "12:10:00" && read1.event == "午休");

        // A site it is not given does not exist for it.
        QVERIFY(!OpenCentralSite(server.Central("desk_a"), "三号楼", &error));

        // The PA computer's account reads its site and nothing else, and writes nothing.
        auto follower = CentralStore::Open(server.Central("pa_a"), &error);
        QVERIFY2(follower, qPrintable(error));
        SiteCopy copy;
        QVERIFY2(follower->ReadSite(kA, &copy, &error), qPrintable(error));
        QVERIFY(!follower->ReadSite(kB, &copy, &error));
        bool may = true;
        QVERIFY(follower->MayWrite(&may) && !may);
        QVERIFY(server.RunAs("pa_a", "INSERT INTO 作息表 (站点, 事件) VALUES ('一号楼', 'x')")
                    .contains("permission denied"));
        QVERIFY(server.RunAs("pa_a", "DROP TABLE 作息表").contains("must be owner"));
        // A follower given the desk's account is told it could write.
        auto writable = CentralStore::Open(server.Central("desk_a"), &error);
        QVERIFY(writable && writable->MayWrite(&may) && may);
    }

    // A zone row written on the server with a command and a file sink: the following computer
    // runs nothing and opens nothing; the zone plays to the default output, which is said.
    void nothingFromTheServerRunsOnAFollower() {
        PgServer server;
        if (const QString why = MakeDistrict(server); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QTemporaryDir dir;
        const QString ran = dir.path() + "/ran", leak = dir.path() + "/leak.raw";
        QString error;
        auto owner = OpenCentralSite(server.Central(), kA, &error);
        QVERIFY2(owner, qPrintable(error));
        qint64 id = 0;
        QVERIFY(owner->AddEvent({0, "星期一", "上课", "08:00:00", dir.path() + "/bell.wav",
                                 "00:00:05", "√", "", "111000"},
                                &id));
        QFile(dir.path() + "/bell.wav").open(QIODevice::WriteOnly);
        QCOMPARE(server.RunAs("belvoran",
                              QStringLiteral(
                                  "INSERT INTO 区域设置 (站点, 序号, 名称, 输出, 输出名称, 声道数, "
                                  "声道, 切换命令) VALUES ('一号楼', 1, '礼堂', 'filesink "
                                  "location=%1', '礼堂功放', 0, 0, 'touch %2'), ('一号楼', 2, "
                                  "'操场', 'filesink location=%1', '操场功放', 0, 0, 'touch "
                                  "%2'), ('一号楼', 3, '走廊', '', '', 100000, 3, '')")
                                  .arg(leak, ran)),
                 QString());

        EngineRig rig;
        // This computer's own: a switch command on zone 1 and a sink typed for zone 2.
        QVector<ZoneRow> own;
        QVERIFY(rig.store.conn->Zones(&own));
        own[0].command = "/bin/true";
        own[1].sink = "fakesink name=typed";
        QVERIFY(rig.store.conn->SetZones(own));
        CentralFollower follower(server.Central("pa_a"), kA, rig.store.path, {60000, 200});
        follower.SetOutputLister([] { return QHash<QString, QString>{{"舞台", "fakesink"}}; });
        follower.Start();
        QVector<ZoneRow> zones;
        QTRY_VERIFY(rig.store.conn->Zones(&zones) && zones[0].name == "礼堂");
        QCOMPARE(zones[0].command, QString("/bin/true")); // its own, kept
        QCOMPARE(zones[0].sink, QString());               // not on this computer
        QVERIFY(zones[0].OutputMissing());
        QCOMPARE(zones[1].sink, QString("fakesink name=typed")); // typed here: stays
        QCOMPARE(zones[1].command, QString());
        QCOMPARE(CentralLineText(follower.State()), QString()); // a read-only account: no warning
        // The clock against the server's, as the account may ask it: one machine, one clock.
        QTRY_VERIFY(follower.State().clockOffsetMs.has_value());
        QVERIFY2(std::llabs(*follower.State().clockOffsetMs) < 100,
                 qPrintable(QString::number(*follower.State().clockOffsetMs)));
        // The server's clock 1.3 s ahead, through a wrapper the account's search path finds
        // first: measured with its size, and worded.
        for (const char* sql :
             {"CREATE SCHEMA shifted", "GRANT USAGE ON SCHEMA shifted TO pa_a",
              "CREATE FUNCTION shifted.clock_timestamp() RETURNS timestamptz LANGUAGE sql AS "
              "'SELECT pg_catalog.clock_timestamp() + interval ''1300 ms'''",
              "ALTER ROLE pa_a SET search_path = shifted, pg_catalog, public"}) {
            QCOMPARE(server.RunAs("belvoran", sql), QString());
        }
        auto shifted = CentralStore::Open(server.Central("pa_a"), &error);
        CentralState drifted = follower.State();
        qint64 offset = 0;
        QVERIFY2(shifted && shifted->ClockOffset(&offset, &error), qPrintable(error));
        QVERIFY2(offset < -1200 && offset > -1400, qPrintable(QString::number(offset)));
        drifted.clockOffsetMs = offset;
        QCOMPARE(CentralLineText(drifted), QString("本机时钟与中心服务器相差 1.3 秒"));
        QCOMPARE(server.RunAs("belvoran", "ALTER ROLE pa_a RESET search_path"), QString());

        QSignalSpy problems(&rig.engine, &ScheduleEngine::ZoneProblem);
        rig.engine.LoadTodayEvents();
        rig.RunUntil(QTime(8, 0, 1));
        QCOMPARE(rig.Played(), QStringList{"2026-12-07 08:00:00 bell.wav"});
        const auto armed = std::find_if(rig.player.calls.rbegin(), rig.player.calls.rend(),
                                        [](const auto& c) { return c.what == "playat"; });
        QVERIFY(armed != rig.player.calls.rend() && armed->route.size() == 2);
        for (const AudioOutput& out : armed->route) {
            QVERIFY2(!out.sink.contains("filesink"), qPrintable(out.sink));
        }
        // A channel count no output has comes through the copy and is played around.
        QCOMPARE(problems.count(), 2);
        QVERIFY(problems[0][0].toString().contains("channel 3 of 100000 is not usable"));
        QVERIFY2(problems[1][0].toString().contains("礼堂功放") &&
                     problems[1][0].toString().contains("not on this computer"),
                 qPrintable(problems[1][0].toString()));
        QTest::qWait(300); // a switch command would have run by now
        QVERIFY(!QFile::exists(ran) && !QFile::exists(leak));

        // On this computer's zones page only its own settings are stored: a command changed
        // there leaves the site's names, outputs and channels as copied.
        SettingsState state;
        state.managedSite = kA;
        SettingForm local(rig.vars, *rig.store.conn, rig.player, state);
        auto* page = local.findChild<ZonesPage*>();
        page->ListOutputs = [] { return QVector<OutputDevice>(); };
        page->Load(); // as when the page is chosen
        auto* command = local.findChild<QLineEdit*>("Text_ZoneCommand1");
        QVERIFY(command->isEnabled() &&
                !local.findChild<QLineEdit*>("Text_ZoneName1")->isEnabled());
        command->setText("/bin/echo");
        emit command->editingFinished();
        QVERIFY(rig.store.conn->Zones(&zones));
        QCOMPARE(zones[0].command, QString("/bin/echo"));
        QCOMPARE(zones[0].outputName, QString("礼堂功放"));
        QCOMPARE(zones[2].channels, 100000);
    }

    // A central timetable of a newer program is said as such, not as a network fault.
    void aNewerCentralSchemaIsNotAnOutage() {
        PgServer server;
        if (const QString why = MakeDistrict(server); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QCOMPARE(server.RunAs("belvoran", "UPDATE belvoran_schema SET version = 99"), QString());
        EngineRig rig;
        CentralFollower follower(server.Central("pa_a"), kA, rig.store.path, {60000, 200});
        follower.Start();
        QTRY_VERIFY(!CentralLineText(follower.State()).isEmpty());
        QVERIFY2(CentralLineText(follower.State())
                     .startsWith("中心时间表来自更新版本的 Belvoran（第 99 版），请升级"),
                 qPrintable(CentralLineText(follower.State())));
    }

    // A district's server is made ready from a terminal with no display, before any site:
    // then the README's first INSERT finds its table.
    void theCentralSchemaIsMadeWithoutAWindow() {
        PgServer server;
        if (const QString why = server.Start(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QProcess make;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        make.setProcessEnvironment(env);
        make.start(BELVORAN_BIN, {"central-schema", server.Central()});
        QVERIFY(make.waitForFinished(60000));
        QCOMPARE(make.exitCode(), 0);
        QVERIFY(QString::fromUtf8(make.readAllStandardOutput()).contains("中心时间表的表已就绪"));
        QCOMPARE(server.RunAs("belvoran", "INSERT INTO config (站点) VALUES ('一号楼')"),
                 QString());
    }

    // Several hosts, the first unreachable; a socket folder percent-encoded in a URI.
    void anyStringLibpqTakesConnects() {
        PgServer server;
        if (const QString why = server.Start(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        const QString folder = QUrl::toPercentEncoding(server.Folder());
        for (const QString& central :
             {server.Central().replace("host=", "host=192.0.2.1,") + " connect_timeout=2",
              "postgresql://127.0.0.1:1," + folder + "/postgres?user=belvoran"}) {
            QString error;
            QVERIFY2(CentralStore::Open(central, &error), qPrintable(central + ": " + error));
        }
    }

    void tlsVerifiesTheServersCertificate() {
        PgServer server;
        if (const QString why = server.Start(true); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QString error;
        auto verified = CentralStore::Open(server.TlsCentral(server.Ca()), &error);
        QVERIFY2(verified, qPrintable(error));
        QVERIFY(!CentralStore::Open(server.TlsCentral(server.OtherCa()), &error));
        QVERIFY2(error.startsWith("服务器的证书未通过验证") &&
                     error.contains("certificate verify failed"),
                 qPrintable(error));
    }
};

QTEST_MAIN(TestCentralAccess)
#include "test_central_access.moc"
