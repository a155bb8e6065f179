// SPDX-License-Identifier: GPL-3.0-or-later
// Two computers following two sites of one central timetable on a real PostgreSQL server:
// a change reaches the right one at once, an outage leaves both ringing from their copies,
// and a copy broken off by a crashed server changes nothing.
#include "app/follow_central.h"
#include "app/remote_control.h"
#include "central/central.h"
#include "central/follower.h"
#include "store/transaction.h"
#include "support/engine_rig.h"
#include "support/log_capture.h"
#include "support/pg_server.h"
#include "widgets/fit_check.h"
#include "widgets/my_button.h"
#include "windows/main/central_line.h"
#include "windows/main/main_form.h"
#include "windows/settings/setting_form.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSqlError>
#include <QTableView>
#include <QtTest>

namespace {

// One PA computer: its store and engine, its main window, following site.
struct Replica {
    Replica(const QString& central, const QString& site)
        : window(rig.vars, *rig.store.conn, rig.player, rig.engine),
          follower(central, site, rig.store.path, {60000, 200}) {
        ReadEachCopy(follower, rig.vars, *rig.store.conn, rig.engine);
        ShowFollower(follower, window);
        rig.store.AddEvent(
            {0, "星期一", "本地铃", "07:30:00", "/x.wav", "00:00:05", "√", "", "111111"});
        follower.Start();
    }
    QStringList Events() {
        QVector<EventRow> rows;
        rig.store.conn->AllEvents(&rows);
        QStringList names;
        for (const EventRow& r : rows) {
            names << r.event;
        }
        return names;
    }
    // The line's text, whole (the tip holds it where the line is cut short).
    QString Outage() {
        const QLabel* line = window.findChild<QLabel*>("Lab_Central");
        return line->toolTip().isEmpty() ? line->text() : line->toolTip();
    }

    EngineRig rig;
    MainForm window;
    CentralFollower follower;
    RemoteControl remote{rig.engine, *rig.store.conn, rig.clock,
                         [this] { return CentralLineText(follower.State()); }};
};

// The bells' files, shared by the computers.
QString Media(const QString& name) {
    static QTemporaryDir dir;
    const QString path = dir.path() + "/" + name;
    QFile(path).open(QIODevice::WriteOnly);
    return path;
}

qint64 Bell(Conn& site, const QString& name, const QString& time, const QString& file) {
    qint64 id = 0;
    QString error;
    if (!site.AddEvent({0, "星期一", name, time, Media(file), "00:00:05", "√", "", "111111"}, &id,
                       &error)) {
        qWarning("%s", qPrintable(error));
    }
    return id;
}

} // namespace

class TestCentral : public QObject {
    Q_OBJECT

private slots:
    void twoSitesFollowedThroughChangesAnOutageAndACrash() {
        PgServer server;
        const QString why = server.Start();
        if (!why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QString error;
        {
            auto admin = CentralStore::Open(server.Central(), &error);
            QVERIFY2(admin, qPrintable(error));
            QVERIFY(admin->AddSite("一号楼") && admin->AddSite("二号楼"));
        }
        auto a = OpenCentralSite(server.Central(), "一号楼", &error);
        auto b = OpenCentralSite(server.Central(), "二号楼", &error);
        QVERIFY2(a && b, qPrintable(error));
        QVERIFY(!OpenCentralSite(server.Central(), "三号楼", &error));
        QVERIFY(Bell(*a, "上课", "08:00:00", "a.wav") > 0);
        qint64 id = 0;
        QVERIFY(a->CreateLibrary("曲库_课间") && a->AddReplace("雨", "/rain.wav", "00:00:05", &id));
        QVERIFY(Bell(*b, "早操", "08:00:05", "b.wav") > 0);
        QVector<ZoneRow> zones;
        QVERIFY(a->Zones(&zones));
        zones[0].name = "东教学楼";
        QVERIFY(a->SetZones(zones) && a->SetZones(zones)); // stored, then changed
        // The settings pages' statements work on the site's rows alone.
        const qint64 gone = Bell(*b, "删除", "09:00:00", "b.wav");
        QVERIFY(b->CopyDay("星期一", {"星期二"}) && b->DeleteLibrary("曲库_无") &&
                b->AddSpecialDays({SpecialDayRow{0, "2026-12-25", kNoBellsKind, {}}}) &&
                b->AddSpecialDays({SpecialDayRow{0, "2026-12-25", "星期五", "补"}}) &&
                b->DeleteRows(GridQuery::WeekDay("星期二"), {gone + 2}) &&
                b->DeleteRows(GridQuery::WeekDay("星期一"), {gone}) && b->SetLastFolder("/m"));
        GridData grid;
        QVERIFY(b->GridRows(GridQuery::WeekDay("星期二"), &grid) && grid.rows.size() == 1);
        QVector<SpecialDayRow> days;
        QVERIFY(b->SpecialDays(&days) && days.size() == 1 && days[0].kind == "星期五");
        ConfigRow options;
        QVERIFY(b->ReadConfig(&options) && options.libraryList.isEmpty() && options.showClock);

        {
            // Two desks change one site's library list at once: the later change fails
            // instead of writing over the first.
            auto b2 = OpenCentralSite(server.Central(), "二号楼", &error);
            Transaction slow(*b);
            QString list;
            QVERIFY(slow.Begin() && b->ReadLibraryList(&list));
            QVERIFY(b2->CreateLibrary("曲库_甲"));
            QVERIFY(!b->SetLibraryList("曲库_乙", &error));
            QVERIFY2(error.contains("serialize"), qPrintable(error));
        }
        {
            ProgramVars desk;
            desk.CurWeekName = "星期一";
            SettingsState state;
            FakePlayer player;
            SettingForm editor(desk, *b, player, state); // the administrator's desk
            QCOMPARE(editor.findChild<QTableView*>("MSHFlexGrid1")->model()->rowCount(), 1);
        }

        {
            // A mistyped site is told as such, not as a network fault; the store is kept.
            Replica wrong(server.Central(), "第二实验小学北校区");
            QTRY_VERIFY(wrong.Outage().startsWith(
                "中心时间表中没有站点“第二实验小学北校区”，或本机的中心账号无权"
                "查看它，使用"));
            QCOMPARE(wrong.Events(), QStringList{"本地铃"});
            // The long line is cut short inside the window's outline.
            wrong.window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&wrong.window));
            QCOMPARE(ClippedParts(&wrong.window), QStringList());
        }
        LogCapture log;
        Replica ra(server.Central(), "一号楼"), rb(server.Central(), "二号楼");
        QTRY_COMPARE(ra.Events(), QStringList{"上课"});
        QTRY_COMPARE(rb.Events(), (QStringList{"早操", "早操"}));
        QTRY_VERIFY(ra.follower.Reachable() && rb.follower.Reachable()); // their signals too
        QCOMPARE(ra.rig.store.ReplaceRows().size(), 1);
        QVERIFY(ra.rig.store.conn->Zones(&zones) && zones[0].name == "东教学楼");
        QVERIFY(rb.rig.store.conn->Zones(&zones) && zones[0].name == DefaultZoneNames()[0]);
        {
            SettingForm local(ra.rig.vars, *ra.rig.store.conn, ra.rig.player, ra.window.Settings());
            // Read-only, yet another day can be looked at.
            QVERIFY(!local.findChild<MyButton*>("MyBt_AddEvent")->isEnabled() &&
                    !local.findChild<MyButton*>("MyBt_DeleteDay")->isEnabled() &&
                    !local.findChild<QLineEdit*>("Text_ZoneName1")->isEnabled());
            QVERIFY(local.findChild<QComboBox*>("Combo_Week")->isEnabled() &&
                    local.findChild<MyButton*>("MyBt_TestZone1")->isEnabled() &&
                    local.Frame(3)->isEnabled());
            QCOMPARE(local.findChild<QLabel*>("Lab_Managed")->text(), "由中心时间表管理");
        }
        ra.rig.engine.LoadTodayEvents(); // the main window's activation, at 07:00
        rb.rig.engine.LoadTodayEvents();

        // A change of site 一号楼 reaches its computer within a second, and only it.
        QSignalSpy bPulled(&rb.follower, &CentralFollower::Pulled);
        QElapsedTimer took;
        took.start();
        QVERIFY(Bell(*a, "加铃", "08:00:10", "a2.wav") > 0);
        QTRY_VERIFY_WITH_TIMEOUT(ra.Events().contains("加铃"), 1000);
        qInfo("a change reached its replica in %lld ms", took.elapsed());
        QCOMPARE(bPulled.count(), 0);

        // A copy that the server's crash breaks off: it has read 作息表 and waits for a lock.
        {
            QSqlDatabase locker = QSqlDatabase::addDatabase("QPSQL", "locker");
            locker.setConnectOptions(server.Central());
            QVERIFY(locker.open());
            QSqlQuery q(locker);
            QVERIFY(locker.transaction() && q.exec("LOCK TABLE 课间音乐 IN ACCESS EXCLUSIVE MODE"));
            QVERIFY(Bell(*a, "中断铃", "08:00:15", "a3.wav") > 0);
            QTRY_VERIFY(q.exec("SELECT count(*) FROM pg_stat_activity WHERE application_name = "
                               "'belvoran' AND wait_event_type = 'Lock'") &&
                        q.next() && q.value(0).toInt() > 0);
            QVERIFY(server.Crash());
        }
        QSqlDatabase::removeDatabase("locker");
        // Each names the time of its own last copy (which may lie in the minute before).
        const auto outage = [](const Replica& r) {
            return QStringLiteral("中心时间表不可达，使用 %1 的本地副本")
                .arg(r.follower.LastCopy().toString("HH:mm"));
        };
        QTRY_COMPARE(ra.Outage(), outage(ra));
        QTRY_COMPARE(rb.Outage(), outage(rb));
        QVERIFY(ra.window.TrayIcon()->toolTip().contains(outage(ra)));
        // status says it too, from the same words
        QVERIFY(ra.remote.Answer("status").contains(outage(ra).toUtf8()));
        QCOMPARE(ra.Events(), (QStringList{"上课", "加铃"}));

        // Both keep ringing their own copies at their seconds while the server is down.
        ra.rig.RunUntil(QTime(8, 0, 20));
        rb.rig.RunUntil(QTime(8, 0, 20));
        QCOMPARE(ra.rig.Played(),
                 (QStringList{"2026-12-07 08:00:00 a.wav", "2026-12-07 08:00:10 a2.wav"}));
        QCOMPARE(rb.rig.Played(), QStringList{"2026-12-07 08:00:05 b.wav"});

        // The server back: both catch up, the broken-off change included.
        QVERIFY(server.Resume());
        QTRY_VERIFY(ra.Events().contains("中断铃"));
        // The outage line gone, what stays is that their (owner's) account could write.
        QTRY_VERIFY(rb.Outage() == kWritableAccountText && ra.Outage() == kWritableAccountText);
        QVERIFY(!ra.window.TrayIcon()->toolTip().contains("不可达"));
        QCOMPARE(rb.Events(), (QStringList{"早操", "早操"}));
        // Retried every 200 ms while the server started again: logged once per computer.
        QCOMPARE(log.Lines({"cannot be reached"}).size(), 2);
        QCOMPARE(log.Lines({"reachable again"}).size(), 2);
    }
};

QTEST_MAIN(TestCentral)
#include "test_central.moc"
