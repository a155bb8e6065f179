// SPDX-License-Identifier: GPL-3.0-or-later
// The tray menu's "停止播放" and "立即播放…": break music ends and the schedule goes on; the
// chosen event plays now, through the real player into a fake sink, and the next event
// still fires at its second.
#include "audio/gst_player.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "schedule/break_music.h"
#include "support/engine_rig.h"
#include "support/media.h"
#include "support/settle.h"
#include "widgets/ui_font.h"
#include "windows/main/main_form.h"
#include "windows/main/play_now_dialog.h"
#include "windows/main/schedule_windows.h"

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QSignalSpy>
#include <QtTest>

namespace {

template <typename P> struct Rig : BasicEngineRig<P> {
    using Base = BasicEngineRig<P>;
    using Base::clock, Base::engine, Base::player, Base::store, Base::vars;
    Rig() {
        clock.Set(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
        form = std::make_unique<MainForm>(vars, *store.conn, player, engine);
        form->onExit = [] {};
    }
    QAction* Action(const char* name) { return form->findChild<QAction*>(name); }
    qint64 Today(const QString& start, const QString& name, const QString& file) {
        return store.AddEvent(
            {0, WeekdayName(clock.Now().date()), name, start, file, "00:00:01", "√", "", "111111"});
    }

    std::unique_ptr<MainForm> form;
};

} // namespace

class TestTrayPlay : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { gst_init(nullptr, nullptr); }

    void theMenuHasBothEntriesBeforeExit() {
        Rig<FakePlayer> r;
        QStringList texts;
        for (QAction* a : r.form->NotifyMenu()->actions()) {
            if (!a->isSeparator() && !a->menu()) {
                texts << a->text();
            }
        }
        QCOMPARE(texts, QStringList({"显示窗口", "隐藏窗口", "停止播放", "立即播放…", "今日记录",
                                     "退出程序"}));
    }

    void stopEndsBreakMusicAndTheNextBellStillRings() {
        Rig<FakePlayer> r;
        r.store.AddSong("曲库_A", r.File("s1.mp3"), "00:03:00");
        r.store.AddSong("曲库_A", r.File("s2.mp3"), "00:03:00");
        r.Today("08:00:05", "曲库_A", kBreakMusicFile);
        const QString bell = r.File("bell.wav");
        r.Today("08:10:00", "上课", bell);
        r.engine.LoadTodayEvents();
        r.RunUntil(QTime(8, 0, 10));
        QVERIFY(r.engine.BreakPlaying());
        PlayLogCapture log;
        r.Action("Menu_Stop")->trigger();
        QVERIFY(!r.engine.BreakPlaying());
        QVERIFY(!r.player.IsPlaying());
        QCOMPARE(log.Matching("stop  playback halted by hand").size(), 1);
        QVERIFY(r.engine.Running());
        r.RunUntil(QTime(8, 10, 1));
        QCOMPARE(r.player.plays.last(), bell);
        QCOMPARE(r.player.plays.size(), 2); // the first song, then the bell: no song after stop
    }

    void playNowOffersTodaysEventsAndPlaysTheChosenFileIntoTheSink() {
        Rig<GstPlayer> r;
        const QString morning = r.store.dir.path() + "/早操.wav";
        const QString bell = r.store.dir.path() + "/上课.wav";
        QVERIFY(media::Tone(morning, 0.5));
        QVERIFY(media::Tone(bell, 0.5));
        const qint64 exercise = r.Today("07:30:00", "早操", morning);
        r.Today("08:10:00", "上课", bell);
        r.engine.LoadTodayEvents();
        QStringList offered;
        r.form->ChoosePlayNow = [&](const QVector<EventRow>& events) {
            for (const EventRow& e : events) {
                offered << e.startTime + " " + e.event;
            }
            return exercise;
        };
        QSignalSpy states(&r.player, &Player::PlayStateChange);
        PlayLogCapture log;
        r.Action("Menu_PlayNow")->trigger();
        QCOMPARE(offered, QStringList({"07:30:00 早操", "08:10:00 上课"}));
        QCOMPARE(r.player.FileName(), morning);
        QCOMPARE(log.Matching("manual event id").size(), 1);
        // It plays into the fake sink and ends by itself; the fire line is written when the
        // first sample reached the sink.
        QTRY_VERIFY_WITH_TIMEOUT(states.size() >= 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(log.Matching(morning).size(), 1, 10000);
        QCOMPARE(states.first().at(1).toInt(), int(Player::Playing));
        QCOMPARE(states.last().at(1).toInt(), int(Player::Stopped));
        QCOMPARE(r.engine.NextEvent(), QString("上课"));
    }

    void cancellingThePlayNowDialogPlaysNothing() {
        Rig<FakePlayer> r;
        r.Today("07:30:00", "早操", r.File("早操.wav"));
        r.engine.LoadTodayEvents();
        r.form->ChoosePlayNow = [](const QVector<EventRow>&) { return qint64(0); };
        r.Action("Menu_PlayNow")->trigger();
        QVERIFY(r.player.plays.isEmpty());
    }

    void theDialogListsTheEventsAndReturnsTheChosenOne() {
        QVector<EventRow> events = {
            {11, "星期一", "早操", "07:30:00", "/m/早操.mp3", "", "√", "", ""},
            {12, "星期一", "曲库_A", "09:40:00", kBreakMusicFile, "", "√", "", "000101"},
        };
        PlayNowDialog dialog(events);
        dialog.show();
        auto* list = dialog.findChild<QListWidget*>("List_TodayEvents");
        QVERIFY(list);
        QCOMPARE(list->count(), 2);
        QVERIFY(list->item(0)->text().contains("早操.mp3"));
        QVERIFY(list->item(1)->text().contains("课间音乐"));
        QVERIFY(KeepsScheduleRunning(&dialog));
        QCOMPARE(dialog.ChosenZones(), QString("111111")); // no code: all zones
        list->setCurrentRow(1);
        QCOMPARE(dialog.ChosenZones(), QString("000101"));             // the event's own …
        dialog.findChild<QCheckBox*>("Check_Zone1")->setChecked(true); // … changed for this play
        dialog.ChooseCurrentEvent();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.ChosenId(), qint64(12));
        QCOMPARE(dialog.ChosenZones(), QString("100101"));
    }

    void anEmptyDayOffersNothingToPlay() {
        PlayNowDialog dialog({});
        auto* list = dialog.findChild<QListWidget*>("List_TodayEvents");
        QCOMPARE(list->count(), 1);
        dialog.ChooseCurrentEvent();
        QCOMPARE(dialog.ChosenId(), qint64(0));
        QVERIFY(!dialog.findChild<QWidget*>("MyButton_Play")->isEnabled());
    }

    // A screenshot for people to look at, when BELVORAN_SCREENSHOT names a file.
    void screenshot() {
        const QString path = qEnvironmentVariable("BELVORAN_SCREENSHOT_PLAYNOW");
        if (path.isEmpty()) {
            QSKIP("BELVORAN_SCREENSHOT_PLAYNOW not set");
        }
        QFont font(UiFontFamily());
        font.setPixelSize(12);
        QApplication::setFont(font);
        QVector<EventRow> events;
        const QStringList names = {"早读", "第一节课", "下课", "课间操", "第二节课", "午休"};
        for (int i = 0; i < names.size(); ++i) {
            events.push_back({i + 1, "星期一", names[i],
                              QString("0%1:%2:00").arg(7 + i / 2).arg(i % 2 ? "45" : "00"),
                              i == 3 ? kBreakMusicFile : QString("/music/%1.mp3").arg(names[i]), "",
                              "√", "", ""});
        }
        PlayNowDialog dialog(events);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(Settle()); // layouts and repaints still queued
        QVERIFY(dialog.grab().save(path));
    }
};

QTEST_MAIN(TestTrayPlay)
#include "test_tray_play.moc"
