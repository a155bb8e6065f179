// SPDX-License-Identifier: GPL-3.0-or-later
// The schedule engine against a fake clock and player: a whole week in milliseconds.
#include "audio/gst_init.h"
#include "audio/gst_player.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "schedule/schedule_engine.h"
#include "store/config_loader.h"
#include "support/engine_rig.h"
#include "support/fakes.h"
#include "support/log_capture.h"
#include "support/media.h"
#include "support/temp_store.h"

#include <QtTest>

namespace {

// A store, program variables, clock, player and engine wired together.
using Rig = EngineRig;

const QDate kMonday(2026, 12, 7);

} // namespace

class TestEngine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { EnsureGstInit(); } // test media are made with GStreamer

    void secondsToTime_data() {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "00:00:00";
        QTest::newRow("3725") << qint64(3725) << "01:02:05";
        QTest::newRow("last second") << qint64(86399) << "23:59:59";
        QTest::newRow("100 hours") << qint64(360000) << "100:00:00";
        QTest::newRow("minus five") << qint64(-5) << "00:00:0-5";
    }
    void secondsToTime() {
        QFETCH(qint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(SecondsToTime(seconds), text);
    }

    void lengthRoundsHalfToEven() {
        QCOMPARE(LengthToTime(205.0), QString("00:03:25"));
        QCOMPARE(LengthToTime(204.5), QString("00:03:24"));
        QCOMPARE(LengthToTime(205.5), QString("00:03:26"));
        QCOMPARE(LengthToTime(2.96), QString("00:00:03"));
    }

    void timeTextChecks() {
        QVERIFY(IsTimeText("00:00:00"));
        QVERIFY(IsTimeText("23:59:59"));
        QVERIFY(!IsTimeText("7:05:00"));
        QVERIFY(!IsTimeText("24:00:00"));
        QVERIFY(!IsTimeText("12:60:00"));
        QVERIFY(!IsTimeText("12-30-00"));
        QVERIFY(!IsTimeText(""));
        QCOMPARE(WeekdayName(QDate(2026, 12, 6)), QString("星期日"));
        QCOMPARE(WeekdayName(kMonday), QString("星期一"));
        QCOMPARE(WeekdayName(QDate(2026, 12, 12)), QString("星期六"));
    }

    // Monday to Sunday, ticking every second: each event fires once, at its second, in
    // order, with the right file; break music, rain mode from Wednesday noon, a disabled
    // event, and every midnight crossed without a new activation.
    void schoolWeek() {
        Rig r;
        const QString bell = r.File("上课铃.wav");
        const QString endBell = r.File("下课铃.wav");
        const QString exercise = r.File("广播操.mp3");
        const QString rainExercise = r.File("雨天操.mp3");
        const QString song1 = r.File("song1.mp3");
        const QString song2 = r.File("song2.mp3");
        r.store.AddSong("曲库_轻音乐", song1, "00:03:00");
        r.store.AddSong("曲库_轻音乐", song2, "00:03:00");
        r.store.AddReplace("雨天操", rainExercise, "00:05:00");
        QVERIFY(SetReplaceMusicArr(r.vars, *r.store.conn));

        struct Expect {
            QDateTime when;
            QString file;
        };
        QVector<Expect> expected;
        for (int day = 0; day < 7; ++day) {
            const QDate d = kMonday.addDays(day);
            const QString week = WeekdayName(d);
            if (day >= 5) {
                r.Event(week, "09:00:00", "周末铃", bell); // weekend: one bell
                expected.push_back({QDateTime(d, QTime(9, 0)), bell});
                continue;
            }
            r.Event(week, "08:00:00", "上课", bell);
            r.Event(week, "08:45:00", "下课", endBell);
            r.Event(week, "08:45:05", "曲库_轻音乐", kBreakMusicFile);
            r.Event(week, "08:55:00", "上课", bell);
            r.Event(week, "09:10:00", "停用的铃", bell, "", "");
            r.Event(week, "10:00:00", "广播操", exercise, "雨天操");
            r.Event(week, "23:59:59", "晚安", endBell);
            const bool rainy = day >= 2; // rain mode switched on Wednesday at noon
            expected.push_back({QDateTime(d, QTime(8, 0)), bell});
            expected.push_back({QDateTime(d, QTime(8, 45)), endBell});
            expected.push_back({QDateTime(d, QTime(8, 45, 5)), song1});
            expected.push_back({QDateTime(d, QTime(8, 55)), bell});
            expected.push_back(
                {QDateTime(d, QTime(10, 0)), (rainy && day > 2) ? rainExercise : exercise});
            expected.push_back({QDateTime(d, QTime(23, 59, 59)), endBell});
        }

        r.At(kMonday, QTime(7, 0));
        r.engine.LoadTodayEvents();
        QVERIFY(r.engine.Running());
        QCOMPARE(r.engine.NextTime(), QString("08:00:00"));

        r.RunUntil(QDateTime(kMonday.addDays(2), QTime(12, 0)));
        r.engine.SetRainMode(true);
        r.RunUntil(QDateTime(kMonday.addDays(6), QTime(23, 59, 59)));

        QVector<Expect> got;
        for (const auto& c : r.player.calls) {
            if (c.what == "play") {
                got.push_back({c.when, c.file});
            }
        }
        QCOMPARE(got.size(), expected.size());
        for (int i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].when, expected[i].when);
            QCOMPARE(got[i].file, expected[i].file);
        }
        // The week ended still running: the timetable never stopped itself.
        QVERIFY(r.engine.Running());
    }

    void countdownLabel() {
        Rig r;
        r.vars.ShowClock = false;
        r.Event("星期一", "08:01:05", "上课", r.File("a.wav"));
        r.At(kMonday, QTime(8, 0));
        r.engine.LoadTodayEvents();
        r.engine.Tick();
        QCOMPARE(r.engine.LabelText(), QString("00:01:05"));
        r.clock.Advance(1);
        r.engine.Tick();
        QCOMPARE(r.engine.LabelText(), QString("00:01:04"));
        r.vars.ShowClock = true;
        r.clock.Advance(1);
        r.engine.Tick();
        QCOMPARE(r.engine.LabelText(), QString("08:00:02"));
    }

    void labelClickTogglesAndStores() {
        Rig r;
        QVERIFY(r.vars.ShowClock);
        r.engine.ToggleShowClock();
        QVERIFY(!r.vars.ShowClock);
        ConfigRow row;
        QVERIFY(r.store.ReadConfig(&row));
        QCOMPARE(row.showClock, false);
        r.engine.ToggleShowClock();
        QVERIFY(r.store.ReadConfig(&row));
        QCOMPARE(row.showClock, true);
    }

    void rainModeIsStored() {
        Rig r;
        r.engine.SetRainMode(true);
        ConfigRow row;
        QVERIFY(r.store.ReadConfig(&row));
        QVERIFY(row.rainMode);
        QVERIFY(r.vars.RainMode);
        r.engine.SetRainMode(false);
        QVERIFY(r.store.ReadConfig(&row));
        QVERIFY(!row.rainMode);
    }

    void noEventsLeftShowsFinishedButKeepsTicking() {
        Rig r;
        r.vars.ShutDownTime = "07:59:59";
        r.At(kMonday, QTime(7, 59, 59));
        r.engine.LoadTodayEvents();
        r.engine.Tick();
        r.clock.Advance(1);
        r.engine.Tick(); // 08:00:00, the shutdown time just passed
        QCOMPARE(r.engine.LabelText(), QString("播放已结束"));
        QVERIFY(r.engine.Running());
        QCOMPARE(r.prompt.opened, 1); // the shutdown check still ran
        QVERIFY(r.Plays().isEmpty());
    }

    void eventAtActivationSecondIsNotLoaded() {
        Rig r;
        r.Event("星期一", "08:00:00", "exactly now", r.File("a.wav"));
        r.Event("星期一", "08:00:01", "next", r.File("b.wav"));
        r.At(kMonday, QTime(8, 0));
        r.engine.LoadTodayEvents();
        QCOMPARE(r.engine.NextEvent(), QString("next"));
        r.RunUntil(QDateTime(kMonday, QTime(8, 1)));
        QCOMPARE(r.Plays(), QStringList{r.store.dir.path() + "/b.wav"});
    }

    // Two rows at one second: the later row sounds, at the second itself, and the earlier
    // one is in the log and the record as replaced by it.
    void sameSecondEventsTheLaterRowPlaysAtTheSecond() {
        Rig r;
        PlayLogCapture log;
        QSignalSpy records(&r.engine, &ScheduleEngine::Recorded);
        const QString a = r.File("a.wav"), b = r.File("b.wav");
        r.Event("星期一", "08:00:00", "first", a);
        r.Event("星期一", "08:00:00", "second", b);
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 5)));
        QCOMPARE(r.Played(), QStringList{"2026-12-07 08:00:00 b.wav"});
        QCOMPARE(log.Matching("skip  08:00:00 \"first\": replaced by \"second\"").size(), 1);
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0][0].value<PlayRecordRow>().outcome, PlayOutcome::Skipped);
        QCOMPARE(records[1][0].value<PlayRecordRow>().event, QString("second"));
    }

    void stoppedScheduleSkipsPassedEvents() {
        Rig r;
        const QString a = r.File("a.wav"), b = r.File("b.wav");
        r.Event("星期一", "08:00:10", "while stopped", a);
        r.Event("星期一", "08:00:30", "after", b);
        r.At(kMonday, QTime(8, 0));
        r.engine.LoadTodayEvents();
        r.engine.StopSchedule();
        QCOMPARE(r.engine.LabelText(), QString("播放已结束"));
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 20))); // ticks while stopped do nothing
        r.engine.LoadTodayEvents();                      // the main window active again
        r.RunUntil(QDateTime(kMonday, QTime(8, 1)));
        QCOMPARE(r.Plays(), QStringList{b});
    }

    void lateTickStillFiresButStaleEventsAreSkipped() {
        Rig r;
        const QString a = r.File("a.wav"), b = r.File("b.wav"), c = r.File("c.wav");
        r.Event("星期一", "08:00:00", "a", a);
        r.Event("星期一", "08:10:00", "b", b);
        r.Event("星期一", "08:20:00", "c", c);
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.At(kMonday, QTime(8, 0, 3)); // three seconds late: still played
        r.engine.Tick();
        QCOMPARE(r.Plays(), QStringList{a});
        r.At(kMonday, QTime(8, 20, 0)); // the computer slept through 08:10
        r.engine.Tick();
        QCOMPARE(r.Plays(), (QStringList{a, c}));
    }

    void scheduleUsesTodayNotTheSettingsSelection() {
        Rig r;
        const QString mon = r.File("mon.wav"), wed = r.File("wed.wav");
        r.Event("星期一", "08:00:00", "monday", mon);
        r.Event("星期三", "08:00:00", "wednesday", wed);
        r.vars.CurWeekName = "星期三"; // left over from editing Wednesday
        r.At(kMonday, QTime(7, 0));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 1)));
        QCOMPARE(r.Plays(), QStringList{mon});
    }

    void badRowsAreSkipped() {
        Rig r;
        const QString good = r.File("good.wav");
        r.store.Raw("INSERT INTO 作息表 (星期名, 事件, 开始时间, 音乐文件, 是否播放) VALUES "
                    "('星期一', 'no file', '08:00:00', NULL, '√')");
        r.store.Raw("INSERT INTO 作息表 (星期名, 事件, 开始时间, 音乐文件, 是否播放) VALUES "
                    "('星期一', 'bad time', '8:5:0x', '/x.wav', '√')");
        r.store.Raw("INSERT INTO 作息表 (星期名, 事件, 开始时间, 音乐文件, 是否播放, 替代音乐) "
                    "VALUES ('星期一', NULL, '08:00:30', '" +
                    good + "', '√', NULL)");
        r.Event("星期一", "08:01:00", "good", good);
        r.At(kMonday, QTime(7, 59));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 2)));
        QCOMPARE(r.Plays(), (QStringList{good, good}));
    }

    // A store that cannot be read is tried again, said once; the rows read before it failed
    // ring on, and a bell that fell due while none were known is missed with a reason.
    void unreadableStoreIsTriedAgain() {
        Rig r;
        PlayLogCapture log;
        QSignalSpy records(&r.engine, &ScheduleEngine::Recorded);
        const QString a = r.File("a.wav"), b = r.File("b.wav"), c = r.File("c.wav");
        r.Event("星期一", "08:00:02", "early", b);
        r.Event("星期一", "08:00:20", "a", a);
        r.Event("星期一", "08:05:00", "c", c);
        r.store.Raw("ALTER TABLE 作息表 RENAME TO 作息表_away");
        r.At(kMonday, QTime(8, 0));
        r.engine.LoadTodayEvents();
        QVERIFY(!r.engine.Armed());
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 7)));
        r.store.Raw("ALTER TABLE 作息表_away RENAME TO 作息表");
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 30)));
        QCOMPARE(r.Plays(), QStringList{a});
        QCOMPARE(records.first()[0].value<PlayRecordRow>().event, QString("early"));
        QCOMPARE(records.first()[0].value<PlayRecordRow>().outcome, PlayOutcome::Missed);
        QCOMPARE(r.engine.NotRungToday().size(), 1);
        // Unreadable again when the settings close: what was read rings on.
        r.store.Raw("ALTER TABLE 作息表 RENAME TO 作息表_away");
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 5, 1)));
        QCOMPARE(r.Plays(), (QStringList{a, c}));
        QCOMPARE(log.Matching("cannot read today's events").size(), 2);
    }

    void aChangeOfTimeZoneMissesTheBellsItJumpsOver() {
        Rig r;
        qputenv("TZ", "Asia/Shanghai");
        tzset();
        r.Event("星期一", "08:00:00", "在跳过的时段", r.File("a.wav"));
        r.Event("星期一", "08:30:00", "之后", r.File("b.wav"));
        r.At(kMonday, QTime(7, 30));
        r.engine.LoadTodayEvents();
        r.RunUntil(QTime(7, 31));
        qputenv("TZ", "Asia/Tokyo"); // an hour ahead: 07:31 reads 08:31
        tzset();
        r.clock.Advance(60);
        r.engine.Tick();
        qunsetenv("TZ");
        tzset();
        QCOMPARE(r.engine.NotRungToday().size(), 2);
        QCOMPARE(r.engine.NotRungToday()[0].reason, QString("the time zone changed"));
    }

    void missingFileIsLoggedAndTheDayGoesOn() {
        Rig r;
        const QString good = r.File("good.wav");
        r.Event("星期一", "08:00:00", "gone", r.store.dir.path() + "/missing.wav");
        r.Event("星期一", "08:00:10", "good", good);
        r.At(kMonday, QTime(7, 59, 59));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 20)));
        QCOMPARE(r.Plays(), QStringList{good});
    }

    void rainReplacement() {
        Rig r;
        const QString own = r.File("own.wav"), first = r.File("first.wav"),
                      later = r.File("later.wav"), plain = r.File("plain.wav");
        r.store.AddReplace("雨", first, "00:00:01");
        r.store.AddReplace("雨", later, "00:00:01");
        QVERIFY(SetReplaceMusicArr(r.vars, *r.store.conn));
        QCOMPARE(r.engine.GetReplaceMusic("雨"), later);
        QCOMPARE(r.engine.GetReplaceMusic("雪"), QString());

        r.Event("星期一", "08:00:00", "with replacement", own, "雨");
        r.Event("星期一", "08:00:10", "no replacement", plain);
        r.Event("星期一", "08:00:20", "unknown replacement", own, "雪");
        r.At(kMonday, QTime(7, 59));
        r.engine.LoadTodayEvents();
        r.engine.SetRainMode(true); // switched on after the event was armed
        r.RunUntil(QDateTime(kMonday, QTime(8, 1)));
        QCOMPARE(r.Plays(), (QStringList{later, plain}));
    }

    void breakOrders_data() {
        QTest::addColumn<int>("order");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("sequential") << 0 << QList<int>{1, 2, 3, 1, 2, 3, 1};
        QTest::newRow("repeat one") << 1 << QList<int>{1, 1, 1, 1, 1, 1, 1};
    }
    void breakOrders() {
        QFETCH(int, order);
        QFETCH(QList<int>, expected);
        Rig r;
        r.vars.PlayOrder = PlayOrderFromStored(order);
        QStringList songs;
        for (int i = 1; i <= 3; ++i) {
            songs << r.File(QString("s%1.mp3").arg(i));
            r.store.AddSong("曲库_A", songs.last(), "00:03:00");
        }
        r.engine.Break().StartBreakMusic("曲库_A");
        for (int i = 1; i < expected.size(); ++i) {
            r.player.Finish();
        }
        QStringList want;
        for (int k : expected) {
            want << songs[k - 1];
        }
        QCOMPARE(r.Plays(), want);
    }

    void randomPassesArePermutations() {
        Rig r;
        r.vars.PlayOrder = PlayOrder::Random;
        const int n = 7;
        QStringList songs;
        for (int i = 1; i <= n; ++i) {
            songs << r.File(QString("s%1.mp3").arg(i));
            r.store.AddSong("曲库_R", songs.last(), "00:03:00");
        }
        QSet<QString> firsts;
        for (int start = 0; start < 20; ++start) {
            r.player.plays.clear();
            r.engine.Break().StartBreakMusic("曲库_R");
            for (int i = 1; i < n * 5; ++i) {
                r.player.Finish();
            }
            QCOMPARE(r.Plays().size(), n * 5);
            for (int pass = 0; pass < 5; ++pass) {
                QStringList one = r.Plays().mid(pass * n, n);
                one.sort();
                QStringList all = songs;
                all.sort();
                QCOMPARE(one, all);
            }
            firsts.insert(r.Plays().first());
        }
        QVERIFY(firsts.size() > 1); // each start reseeds
    }

    // Every order of three songs comes up about as often as the others (a shuffle that
    // always moves each song would only ever give two of the six).
    void randomOrdersAreEquallyLikely() {
        Rig r;
        r.vars.PlayOrder = PlayOrder::Random;
        r.Songs("曲库_R", {r.File("a.mp3"), r.File("b.mp3"), r.File("c.mp3")});
        r.engine.Break().StartBreakMusic("曲库_R");
        QHash<QVector<int>, int> seen;
        for (int draw = 0; draw < 6000; ++draw) {
            r.engine.Break().BuildBreakOrder();
            ++seen[r.engine.Break().BreakOrder()];
        }
        QCOMPARE(seen.size(), 6);
        for (const int n : seen) {
            QVERIFY2(n > 800 && n < 1200, qPrintable(QString::number(n))); // 1000 expected
        }
    }

    void breakMusicFromTheTimetable() {
        Rig r;
        r.vars.PlayOrder = PlayOrder::Sequential;
        const QString s1 = r.File("s1.mp3"), s2 = r.File("s2.mp3"), bell = r.File("bell.wav");
        r.store.AddSong("曲库_A", s1, "00:03:00");
        r.store.AddSong("曲库_A", s2, "00:03:00");
        r.Event("星期一", "08:00:00", "曲库_A", kBreakMusicFile);
        r.Event("星期一", "08:10:00", "上课", bell);
        r.At(kMonday, QTime(7, 59, 59));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0)));
        QVERIFY(r.engine.BreakPlaying());
        r.player.Finish(); // song 1 ends, song 2 starts
        QCOMPARE(r.Plays(), (QStringList{s1, s2}));
        r.RunUntil(QDateTime(kMonday, QTime(8, 10))); // the bell interrupts song 2
        QVERIFY(!r.engine.BreakPlaying());
        QCOMPARE(r.Plays(), (QStringList{s1, s2, bell}));
        r.player.Finish(); // the bell ends: no break song follows
        QCOMPARE(r.Plays(), (QStringList{s1, s2, bell}));
    }

    void haltEndsBreakMusic() {
        Rig r;
        const QString s1 = r.File("s1.mp3"), other = r.File("other.mp3");
        r.store.AddSong("曲库_A", s1, "00:03:00");
        r.engine.Break().StartBreakMusic("曲库_A");
        r.player.Halt();
        QVERIFY(!r.engine.BreakPlaying());
        // Something else plays afterwards and ends: break music does not come back.
        r.player.SetFileName(other, {});
        r.player.Play();
        r.player.Finish();
        QCOMPARE(r.Plays(), (QStringList{s1, other}));
    }

    void anotherPlayerUserEndsBreakMusic() {
        Rig r;
        const QString s1 = r.File("s1.mp3"), trial = r.File("trial.mp3");
        r.store.AddSong("曲库_A", s1, "00:03:00");
        r.engine.Break().StartBreakMusic("曲库_A");
        r.player.SetFileName(trial, {}); // a settings page tries music out
        r.player.Play();
        r.player.Finish();
        QVERIFY(!r.engine.BreakPlaying());
        QCOMPARE(r.Plays(), (QStringList{s1, trial}));
    }

    void emptyLibraryPlaysNothing() {
        Rig r;
        const QString bell = r.File("bell.wav");
        r.Event("星期一", "08:00:00", "上课", bell);
        r.Event("星期一", "08:00:02", "曲库_空", kBreakMusicFile);
        r.At(kMonday, QTime(7, 59, 59));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 3)));
        r.player.Finish(); // the bell that was still playing ends
        r.player.Finish();
        QCOMPARE(r.Plays(), QStringList{bell});
    }

    void libraryOfBrokenSongsStops() {
        Rig r;
        r.store.AddSong("曲库_坏", r.File("bad1.mp3"), "00:03:00");
        r.store.AddSong("曲库_坏", r.File("bad2.mp3"), "00:03:00");
        r.engine.Break().StartBreakMusic("曲库_坏");
        for (int i = 0; i < 10 && r.engine.BreakPlaying(); ++i) {
            r.player.Fail();
        }
        QVERIFY(!r.engine.BreakPlaying());
        QCOMPARE(r.Plays().size(), 2);
    }

    void oneFailedSongLeavesTheBreakGoing() {
        Rig r;
        r.vars.PlayOrder = PlayOrder::Sequential;
        const QStringList songs =
            r.Songs("曲库_A", {r.File("s1.mp3"), r.File("bad.mp3"), r.File("s2.mp3")});
        r.engine.Break().StartBreakMusic("曲库_A");
        for (int pass = 0; pass < 2; ++pass) {
            r.player.Finish();
            r.player.Fail();
            QVERIFY(r.engine.BreakPlaying());
            r.player.Finish();
        }
        QVERIFY(r.engine.BreakPlaying());
        QCOMPARE(r.Plays(), songs + songs + songs.mid(0, 1));
    }

    void passOfFailedSongsStopsTheBreakWithOneLine() {
        Rig r;
        r.vars.PlayOrder = PlayOrder::Random;
        r.Songs("曲库_坏", {r.File("bad1.mp3"), r.File("bad2.mp3"), r.File("bad3.mp3")});
        LogCapture log;
        r.engine.Break().StartBreakMusic("曲库_坏");
        r.player.Fail();
        r.player.Fail();
        QVERIFY(r.engine.BreakPlaying()); // one song of the pass is still to be tried
        r.player.Fail();
        QVERIFY(!r.engine.BreakPlaying());
        QCOMPARE(r.Plays().size(), 3);
        QCOMPARE(log.Lines({"曲库_坏", "break music stops"}).size(), 1);
    }

    void repeatOneStopsWhenItsSongFails() {
        Rig r;
        r.vars.PlayOrder = PlayOrder::RepeatOne;
        r.Songs("曲库_A", {r.File("bad.mp3"), r.File("s2.mp3")});
        r.engine.Break().StartBreakMusic("曲库_A");
        r.player.Fail();
        QVERIFY(!r.engine.BreakPlaying());
        QCOMPARE(r.Plays().size(), 1);
    }

    void repeatedFailuresAreLoggedOnceABreak() {
        Rig r;
        r.vars.PlayOrder = PlayOrder::Sequential;
        const QString good = r.Sound("good.wav"), missing = r.store.dir.path() + "/missing.wav";
        const QString silent = r.Sound("silent.wav"); // ends without a sound: fails in the player
        r.Songs("曲库_A", {good, missing, silent});
        LogCapture log;
        for (int start = 0; start < 2; ++start) {
            r.engine.Break().StartBreakMusic("曲库_A");
            for (int pass = 0; pass < 3; ++pass) {
                r.player.Finish();
                r.player.Fail();
                r.player.Fail();
            }
            QVERIFY(r.engine.BreakPlaying());
        }
        const QStringList missingLines = log.Lines({"error", missing});
        QCOMPARE(missingLines.size(), 2); // once a break, naming the reason
        QVERIFY2(missingLines[0].contains("does not exist"), qPrintable(missingLines[0]));
        QCOMPARE(log.Lines({"error", silent}).size(), 2);
        QCOMPARE(log.Lines({silent}).size(), 4);                   // and played once a break
        QCOMPARE(log.Lines({"play  break song", good}).size(), 8); // every time it starts
    }

    void randomOrderDiffersFromStartToStart() {
        // As if the program were started five times: each start draws its own order.
        QSet<QStringList> orders;
        for (int start = 0; start < 5; ++start) {
            Rig r;
            r.vars.PlayOrder = PlayOrder::Random;
            QStringList names;
            for (int i = 1; i <= 8; ++i) {
                names << r.File(QString("s%1.mp3").arg(i)).section('/', -1);
                r.store.AddSong("曲库_R", r.store.dir.path() + "/" + names.last(), "00:03:00");
            }
            r.engine.Break().StartBreakMusic("曲库_R");
            for (int i = 1; i < 8; ++i) {
                r.player.Finish();
            }
            QStringList order;
            for (const QString& p : r.Plays()) {
                order << p.section('/', -1);
            }
            orders.insert(order);
        }
        QVERIFY(orders.size() > 1);
    }

    // The real player: a library of a song without samples and a missing song used to start
    // songs without end, hundreds a second, for the whole break.
    void librarySilentAndMissingStopsWithTheRealPlayer() {
        TempStore store;
        ProgramVars vars;
        vars.PlayOrder = PlayOrder::Sequential;
        const QString silent = store.dir.path() + "/empty.wav";
        QVERIFY(media::Make(silent, 0));
        store.AddSong("曲库_空", silent, "00:00:00");
        store.AddSong("曲库_空", store.dir.path() + "/missing.mp3", "00:03:00");
        GstPlayer player;
        BreakMusic music(vars, *store.conn, player);
        LogCapture log;
        music.StartBreakMusic("曲库_空");
        QTRY_VERIFY_WITH_TIMEOUT(!music.BreakPlaying(), 10000);
        QTRY_COMPARE(log.Lines({"break music stops"}).size(), 1);
        QVERIFY2(log.Lines({"break song"}).size() <= 3, qPrintable(log.Text()));
        QCOMPARE(log.Lines({"error player"}).size(), 0);
    }

    void shutdownCheck() {
        Rig r;
        r.vars.ShutDownTime = "17:30:00";
        r.At(kMonday, QTime(17, 29, 59));
        r.engine.LoadTodayEvents();
        r.clock.Advance(1);
        r.engine.Tick(); // 17:30:00
        QCOMPARE(r.prompt.opened, 0);
        r.clock.Advance(1);
        r.engine.Tick(); // 17:30:01
        QCOMPARE(r.prompt.opened, 1);
        // Cancelled: it stays cancelled for the rest of the day …
        r.RunUntil(QDateTime(kMonday, QTime(19, 0)));
        QCOMPARE(r.prompt.opened, 1);
        // … unless the administrator sets another time, a new shutdown that day …
        r.vars.ShutDownTime = "20:00:00";
        r.RunUntil(QDateTime(kMonday, QTime(23, 59, 59)));
        QCOMPARE(r.prompt.opened, 2);
        // … and the next day asks again.
        r.RunUntil(QDateTime(kMonday.addDays(1), QTime(20, 0, 1)));
        QCOMPARE(r.prompt.opened, 3);
    }

    void shutdownNeverAtMidnightSetting() {
        Rig r;
        r.vars.ShutDownTime = "00:00:00";
        r.At(kMonday, QTime(0, 0));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(2, 0)));
        r.At(kMonday, QTime(23, 59, 0));
        r.RunUntil(QDateTime(kMonday.addDays(1), QTime(0, 1)));
        QCOMPARE(r.prompt.opened, 0);
    }

    void shutdownWithDamagedTimeNeverOpens() {
        Rig r;
        r.vars.ShutDownTime = "";
        r.At(kMonday, QTime(12, 0));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(12, 0, 10)));
        QCOMPARE(r.prompt.opened, 0);
    }

    void shutdownBoxIsNotOpenedTwice() {
        Rig r;
        r.vars.ShutDownTime = "17:30:00";
        r.At(kMonday, QTime(17, 30));
        r.engine.LoadTodayEvents();
        r.engine.Tick();
        r.clock.Advance(30);
        // While the box is open (hidden main window) ticks keep arriving.
        r.prompt.during = [&] {
            for (int i = 0; i < 5; ++i) {
                r.clock.Advance(1);
                r.engine.Tick();
            }
        };
        r.engine.Tick();
        QCOMPARE(r.prompt.opened, 1);
    }

    void acceptedShutdownIsNotMarkedCancelled() {
        Rig r;
        r.vars.ShutDownTime = "17:30:00";
        r.prompt.answer = true;
        r.At(kMonday, QTime(17, 30));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(17, 30, 2)));
        QCOMPARE(r.prompt.opened, 1);
        QVERIFY(!r.engine.Shutdown().CancelledToday(kMonday));
    }

    void preparesTheArmedFileAhead() {
        Rig r;
        const QString a = r.File("a.wav");
        r.Event("星期一", "08:00:00", "a", a);
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0)));
        int prepareAt = -1, playAt = -1;
        for (int i = 0; i < r.player.calls.size(); ++i) {
            if (r.player.calls[i].what == "prepare" && prepareAt < 0) {
                prepareAt = i;
                QCOMPARE(r.player.calls[i].file, a);
                QCOMPARE(r.player.calls[i].when.time(), QTime(7, 59, 58));
            }
            if (r.player.calls[i].what == "play") {
                playAt = i;
            }
        }
        QVERIFY(prepareAt >= 0 && playAt > prepareAt);
    }

    // --- the schedule keeps its promises -----------------------------------------------
    void bellsKeepRingingWhileTheShutdownBoxIsOpen() {
        Rig r;
        r.vars.ShutDownTime = "17:30:00";
        r.prompt.holdOpen = true; // power-off refused, nobody there to click the notice
        const QString bell = r.File("bell.wav");
        r.Event("星期一", "17:30:10", "a", bell);
        r.Event("星期一", "17:30:20", "b", bell);
        r.Event("星期一", "17:30:40", "c", bell);
        r.At(kMonday, QTime(17, 29, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(17, 31)));
        QCOMPARE(r.prompt.opened, 1);
        QVERIFY(r.prompt.IsOpen());
        QCOMPARE(r.Plays(), (QStringList{bell, bell, bell}));
        QStringList at;
        for (const auto& c : r.player.calls) {
            if (c.what == "play") {
                at << c.when.time().toString("HH:mm:ss");
            }
        }
        QCOMPARE(at, (QStringList{"17:30:10", "17:30:20", "17:30:40"}));
    }

    void lastEventOfTheDayIsNotLostAtMidnight() {
        Rig r;
        const QString bell = r.File("bell.wav");
        r.Event("星期一", "23:59:59", "last", bell);
        r.At(kMonday, QTime(23, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(23, 59, 58)));
        r.At(kMonday.addDays(1), QTime(0, 0, 1)); // the tick came two seconds late
        r.engine.Tick();
        QCOMPARE(r.Plays(), QStringList{bell});
    }

    void lastEventMissedAtMidnightIsLogged() {
        Rig r;
        PlayLogCapture log;
        r.Event("星期一", "23:59:59", "last", r.File("bell.wav"));
        r.At(kMonday, QTime(23, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(23, 59, 58)));
        r.At(kMonday.addDays(1), QTime(0, 5)); // asleep over midnight
        r.engine.Tick();
        QVERIFY(r.Plays().isEmpty());
        QCOMPARE(log.Matching("missed 23:59:59 \"last\": the day ended").size(), 1);
    }

    void newDayStartsAtMidnight() {
        Rig r;
        const QString a = r.File("a.wav"), b = r.File("b.wav");
        r.Event("星期二", "00:00:00", "a", a);
        r.Event("星期二", "00:00:01", "b", b);
        r.At(kMonday, QTime(23, 59, 58));
        r.engine.LoadTodayEvents();
        r.engine.Tick();
        r.At(kMonday.addDays(1), QTime(0, 0, 2)); // the first tick of the day is late
        r.engine.Tick();
        r.RunUntil(QDateTime(kMonday.addDays(1), QTime(0, 0, 5)));
        QCOMPARE(r.Plays(), (QStringList{a, b}));
    }

    void shutdownTimeAlreadyPastAtStartIsNotApplied() {
        Rig r;
        PlayLogCapture log;
        r.vars.ShutDownTime = "00:30:00";
        r.At(kMonday, QTime(7, 0)); // the computer starts the program in the morning
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(7, 1)));
        QCOMPARE(r.prompt.opened, 0);
        QCOMPARE(log.Matching("skipped: started after the shutdown time").size(), 1);
        // Left running overnight, it does shut down the next night.
        r.RunUntil(QDateTime(kMonday.addDays(1), QTime(0, 30, 1)));
        QCOMPARE(r.prompt.opened, 1);
    }

    // Asleep over the shutdown time: skipped. Held by the settings window over it: the
    // countdown opens on return, where the administrator can cancel it.
    void shutdownMissedAsleepIsSkippedButNotBehindTheSettings() {
        for (const bool settings : {false, true}) {
            Rig r;
            r.vars.ShutDownTime = "17:30:00";
            r.At(kMonday, QTime(17, 29));
            r.engine.LoadTodayEvents();
            r.engine.Tick();
            if (settings) {
                r.engine.StopSchedule("the settings window was open");
            }
            r.At(kMonday, QTime(17, 35));
            if (settings) {
                r.engine.LoadTodayEvents();
            }
            r.RunUntil(QDateTime(kMonday, QTime(17, 36)));
            QCOMPARE(r.prompt.opened, settings ? 1 : 0);
        }
    }

    // An event 60 s late still plays; 61 s late it is missed, on a day and over midnight.
    void lateByTheGraceExactlyPlaysAndOneSecondMoreIsMissed() {
        for (const bool midnight : {false, true}) {
            for (const int late : {60, 61}) {
                Rig r;
                const QDateTime due = midnight ? QDateTime(kMonday, QTime(23, 59, 30))
                                               : QDateTime(kMonday, QTime(8, 0));
                r.Event("星期一", TimeText(due.time()), "铃", r.File("bell.wav"));
                r.At(kMonday, due.time().addSecs(-10));
                r.engine.LoadTodayEvents();
                r.clock.Set(due.addSecs(late)); // no tick between: the computer was busy
                r.engine.Tick();
                QCOMPARE(r.Plays().size(), late == 60 ? 1 : 0);
            }
        }
    }

    void anEventNeverFiresTwiceOnOneDate() {
        Rig r;
        PlayLogCapture log;
        const QString bell = r.File("bell.wav");
        r.Event("星期一", "08:00:00", "上课", bell);
        r.At(kMonday, QTime(7, 59, 55));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 5)));
        r.At(kMonday, QTime(7, 59, 50)); // the clock is set back, the window activated again
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 5)));
        QCOMPARE(r.Plays(), QStringList{bell});
        QCOMPARE(log.Matching("already played today").size(), 1);
        // The next day it rings again.
        r.RunUntil(QDateTime(kMonday.addDays(7), QTime(8, 0, 1)));
        QCOMPARE(r.Plays(), (QStringList{bell, bell}));
    }

    void badRowsAreLoggedOnceWhenTheDayIsRead() {
        Rig r;
        PlayLogCapture log;
        r.store.Raw("INSERT INTO 作息表 (星期名, 事件, 开始时间, 音乐文件, 是否播放) VALUES "
                    "('星期一', '晚自习', '8:00:00', '/x.wav', '√')");
        // Rows a filter on the time would never have shown: no time, a leading blank.
        r.store.Raw("INSERT INTO 作息表 (星期名, 事件, 开始时间, 音乐文件, 是否播放) VALUES "
                    "('星期一', '午休', NULL, '/x.wav', '√')");
        r.store.Raw("INSERT INTO 作息表 (星期名, 事件, 开始时间, 音乐文件, 是否播放) VALUES "
                    "('星期一', '早操', ' 06:00:00', '/x.wav', '√')");
        // Special days the schedule cannot use: an unknown kind, an impossible date, and
        // today's date with a blank after it.
        r.store.Raw("INSERT INTO 特殊日期 (日期, 类型, 备注) VALUES ('2026-12-08', '星期八', ''), "
                    "('2026-02-30', '无铃声', ''), ('2026-12-07 ', '无铃声', '')");
        r.Event("星期一", "07:30:00", "早读", r.File("a.wav"));
        r.At(kMonday, QTime(7, 0));
        r.engine.LoadTodayEvents();
        QCOMPARE(log.Matching("skip  special day").size(), 3);
        QVERIFY(r.engine.TodayRule().bells);
        QCOMPARE(log.Matching("\"8:00:00\" is not hh:mm:ss").size(), 1);
        QCOMPARE(log.Matching("\"午休\": it has no start time").size(), 1);
        QCOMPARE(log.Matching("\"早操\": the start time \" 06:00:00\"").size(), 1);
        r.engine.LoadTodayEvents(); // another activation: said already
        r.RunUntil(QDateTime(kMonday, QTime(9, 0)));
        QCOMPARE(log.Matching("is not hh:mm:ss").size(), 2);
        QCOMPARE(log.Matching("skip  special day").size(), 3);
        QCOMPARE(r.Plays().size(), 1);
    }

    // --- nothing goes unseen -------------------------------------------------------------
    // A morning: a bell rings and is moved later in the settings (it rings again at its new
    // time), a missing file fails, and a bell falls while the settings window is open. Each
    // is one log line and one record; the missed one is said once, on return.
    void aMorningIsRecordedAndNothingIsLostSilently() {
        Rig r;
        PlayLogCapture log;
        QSignalSpy records(&r.engine, &ScheduleEngine::Recorded);
        const QString bell = r.File("bell.wav");
        const qint64 moved = r.Event("星期一", "08:00:00", "上课", bell);
        r.Event("星期一", "08:30:00", "广播", r.store.dir.path() + "/gone.wav");
        r.Event("星期一", "10:00:00", "课间操", bell);
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 5)));

        EventRow row;
        QVERIFY(r.store.conn->EventById(moved, &row));
        row.startTime = "09:00:00";
        QVERIFY(r.store.conn->UpdateEvent(row));
        r.engine.StopSchedule("the settings window was open");
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(9, 58)));
        r.engine.StopSchedule("the settings window was open");
        r.At(kMonday, QTime(10, 5));
        r.engine.LoadTodayEvents();
        r.engine.LoadTodayEvents(); // a second activation says nothing again
        r.RunUntil(QDateTime(kMonday, QTime(10, 6)));

        QCOMPARE(r.Played(),
                 (QStringList{"2026-12-07 08:00:00 bell.wav", "2026-12-07 09:00:00 bell.wav"}));
        QCOMPARE(log.Matching("already played").size(), 0);
        QCOMPARE(log.Matching("missed 10:00:00 \"课间操\": the settings window was open").size(),
                 1);
        QStringList got;
        for (const auto& args : records) {
            const auto rec = args[0].value<PlayRecordRow>();
            QCOMPARE(rec.date, QString("2026-12-07"));
            got << QString("%1 %2 %3 %4")
                       .arg(rec.time)
                       .arg(int(rec.outcome))
                       .arg(rec.lateMs)
                       .arg(rec.reason);
        }
        QCOMPARE(got, (QStringList{"08:00:00 0 0 ", "08:30:00 3 -1 does not exist", "09:00:00 0 0 ",
                                   "10:00:00 2 -1 the settings window was open"}));
    }

    // Files that cannot play are found when the day is read, not at their second, and the
    // warning goes once they are put right.
    void unplayableSoundsOfTheDayAreFoundWhenItIsRead() {
        LogCapture log;
        Rig r;
        QSignalSpy changed(&r.engine, &ScheduleEngine::TodayProblemsChanged);
        const QString gone = r.store.dir.path() + "/gone.wav";
        r.Event("星期一", "09:00:00", "上课", gone);
        r.Event("星期一", "10:00:00", "曲库_空", kBreakMusicFile);
        r.Event("星期一", "11:00:00", "下课", r.File("ok.wav"));
        r.At(kMonday, QTime(7, 0));
        r.engine.LoadTodayEvents();
        QTRY_COMPARE(r.engine.TodayProblems().size(), 2);
        QCOMPARE(r.engine.TodayProblems()[0].reason, QString("does not exist"));
        QCOMPARE(r.engine.TodayProblems()[1].reason, QString("break-music library has no songs"));
        // Said once the day is armed and checked, and not again at the checks that follow.
        QTRY_COMPARE(log.Lines({"ready:"}).size(), 1);
        QVERIFY(log.Lines({"ready:"})[0].endsWith("ready: 3 events today, next 09:00:00 \"上课\"; "
                                                  "2 cannot be played (see the warnings)"));
        r.File("gone.wav");
        r.Songs("曲库_空", {r.File("song.mp3")});
        r.RunUntil(QDateTime(kMonday, QTime(7, 5, 1)));
        QTRY_VERIFY(r.engine.TodayProblems().isEmpty());
        QCOMPARE(changed.size(), 2);
        QCOMPARE(log.Lines({"ready:"}).size(), 1);
    }

    // --- starts on the audio clock ------------------------------------------------------
    void repeatedFileIsPreparedAgainForEveryEvent() {
        Rig r;
        const QString bell = r.File("bell.wav");
        for (const QString t : {"08:00:00", "08:00:02", "08:00:04"}) {
            r.Event("星期一", t, "bell " + t, bell);
        }
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 10)));
        QStringList seen;
        for (const auto& c : r.player.calls) {
            if (c.what == "prepare" || c.what == "playat" || c.what == "play") {
                QCOMPARE(c.file, bell);
                seen << c.what + " " + c.when.time().toString("HH:mm:ss");
            }
        }
        QCOMPARE(seen, (QStringList{"prepare 07:59:58", "playat 07:59:59", "play 08:00:00",
                                    "prepare 08:00:00", "playat 08:00:01", "play 08:00:02",
                                    "prepare 08:00:02", "playat 08:00:03", "play 08:00:04"}));
    }

    void fireLineCarriesTheFirstSample() {
        Rig r;
        PlayLogCapture log;
        r.Event("星期一", "08:00:00", "上课", r.File("a.wav"));
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 2)));
        const QStringList fire = log.Matching("fire  08:00:00 \"上课\"");
        QCOMPARE(fire.size(), 1);
        QVERIFY2(fire[0].endsWith("(first sample at the sink +0.0 ms)"), qPrintable(fire[0]));
    }

    void rainSwitchAfterArmingPlaysTheReplacement() {
        Rig r;
        const QString a = r.File("a.wav"), rain = r.File("rain.wav");
        r.Event("星期一", "08:00:00", "操", a, "雨天操");
        r.vars.ReplaceMusicArr = {{"雨天操", rain}};
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(7, 59, 59))); // a is armed
        QVERIFY(r.player.StartArmed(a, QDateTime(kMonday, QTime(8, 0)), {}));
        r.engine.SetRainMode(true);
        QVERIFY(r.player.StartArmed(rain, QDateTime(kMonday, QTime(8, 0)), {}));
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 5)));
        QCOMPARE(r.Plays(), QStringList{rain});
    }

    void stopBeforeTheSecondPlaysNothing() {
        Rig r;
        r.Event("星期一", "08:00:00", "a", r.File("a.wav"));
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(7, 59, 59)));
        QVERIFY(r.player.StartPending());
        r.engine.StopSchedule(); // the settings window opens
        QVERIFY(!r.player.StartPending());
        r.clock.Advance(1);
        r.engine.LoadTodayEvents(); // and closes again at the event's second: it has passed
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 5)));
        QVERIFY(r.Plays().isEmpty());
    }

    void reloadBeforeTheSecondPlaysOnce() {
        Rig r;
        const QString a = r.File("a.wav");
        r.Event("星期一", "08:00:00", "a", a);
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(7, 59, 59)));
        r.engine.StopSchedule();
        r.engine.LoadTodayEvents(); // back from the settings within the same second
        QVERIFY(r.player.StartPending());
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 5)));
        QCOMPARE(r.Plays(), QStringList{a});
    }

    void haltBeforeTheSecondStillRingsTheBellOnce() {
        Rig r;
        const QString a = r.File("a.wav");
        r.Event("星期一", "08:00:00", "a", a);
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(7, 59, 59)));
        r.player.Halt(); // the stop button stops what plays now, not the timetable
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 5)));
        QCOMPARE(r.Plays(), QStringList{a});
    }

    void breakLibraryFirstSongIsPreparedAndArmed() {
        Rig r;
        r.vars.PlayOrder = PlayOrder::Sequential;
        const QStringList songs = r.Songs("曲库_A", {r.Sound("s1.wav"), r.Sound("s2.wav")});
        r.Event("星期一", "08:00:00", "曲库_A", kBreakMusicFile);
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 1)));
        QStringList seen;
        for (const auto& c : r.player.calls) {
            if (c.what == "prepare" || c.what == "playat" || c.what == "play") {
                seen << c.what + " " + QFileInfo(c.file).fileName() + " " +
                            c.when.time().toString("HH:mm:ss");
            }
        }
        QCOMPARE(seen, (QStringList{"prepare s1.wav 07:59:58", "playat s1.wav 07:59:59",
                                    "play s1.wav 08:00:00"}));
        QVERIFY(r.engine.BreakPlaying());
        r.player.Finish();
        QCOMPARE(r.Plays(), songs);
    }

    void songEndingJustBeforeABellStartsNoOther() {
        Rig r;
        r.vars.PlayOrder = PlayOrder::Sequential;
        const QStringList songs = r.Songs("曲库_A", {r.Sound("s1.wav"), r.Sound("s2.wav")});
        const QString bell = r.File("bell.wav");
        r.Event("星期一", "08:00:00", "曲库_A", kBreakMusicFile);
        r.Event("星期一", "08:10:00", "上课", bell);
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 9, 59))); // the bell is armed
        r.player.Finish();                               // s1 ends in the last second
        r.RunUntil(QDateTime(kMonday, QTime(8, 10, 1)));
        QCOMPARE(r.Plays(), (QStringList{songs[0], bell}));
        QVERIFY(!r.engine.BreakPlaying());
    }

    void oneBreakAfterAnotherStartsTheNewLibrary() {
        Rig r;
        r.vars.PlayOrder = PlayOrder::Sequential;
        const QStringList a = r.Songs("曲库_A", {r.Sound("a1.wav"), r.Sound("a2.wav")});
        const QStringList b = r.Songs("曲库_B", {r.Sound("b1.wav"), r.Sound("b2.wav")});
        r.Event("星期一", "08:00:00", "曲库_A", kBreakMusicFile);
        r.Event("星期一", "08:00:05", "曲库_B", kBreakMusicFile);
        r.At(kMonday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 6)));
        QCOMPARE(r.Plays(), (QStringList{a[0], b[0]}));
        QVERIFY(r.engine.BreakPlaying());
        r.player.Finish();
        QCOMPARE(r.Plays(), (QStringList{a[0], b[0], b[1]}));
    }

    // The real player and clock: events a few seconds from now.
    void realPlayerPlaysARepeatedFileAtEachSecond() {
        TempStore store;
        ProgramVars vars;
        SystemClock clock;
        FakePrompt prompt;
        const QString bell = store.dir.path() + "/bell.wav";
        QVERIFY(media::Make(bell, 0.5));
        const QDateTime t1 = WholeSecondAhead(3);
        const QDateTime t2 = t1.addSecs(2);
        if (t2.date() != QDate::currentDate()) {
            QSKIP("too close to midnight");
        }
        for (const QDateTime& t : {t1, t2}) {
            store.AddEvent({0, WeekdayName(t.date()), "bell", TimeText(t.time()), bell, "00:00:01",
                            "√", "", "111111"});
        }
        GstPlayer player;
        QSignalSpy first(&player, &Player::FirstSample);
        QSignalSpy states(&player, &Player::PlayStateChange);
        PlayLogCapture log;
        ScheduleEngine engine(vars, *store.conn, clock, player, &prompt);
        engine.LoadTodayEvents();
        QTRY_COMPARE_WITH_TIMEOUT(first.count(), 2, 15000);
        QCOMPARE(first.at(0).at(0).toString(), bell);
        QVERIFY(first.at(0).at(1).toLongLong() >= t1.toMSecsSinceEpoch() * 1000);
        QCOMPARE(first.at(1).at(0).toString(), bell);
        QVERIFY(first.at(1).at(1).toLongLong() >= t2.toMSecsSinceEpoch() * 1000);
        // The second bell played to its end, and nothing started after it.
        QTRY_VERIFY_WITH_TIMEOUT(!states.isEmpty() && states.last().at(1).toInt() == 0, 5000);
        QCOMPARE(first.count(), 2);
        QCOMPARE(log.Matching("first sample at the sink").size(), 2);
        engine.StopSchedule();
    }

    void realPlayerRainSwitchBeforeTheSecondPlaysTheReplacement() {
        // The switch must come between the arming, a second ahead, and the second itself: on
        // a machine so busy that this thread first looks after the second, it is tried again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            TempStore store;
            ProgramVars vars;
            SystemClock clock;
            FakePrompt prompt;
            const QString a = store.dir.path() + "/a.wav", rain = store.dir.path() + "/rain.wav";
            QVERIFY(media::Make(a, 0.5) && media::Make(rain, 0.5));
            vars.ReplaceMusicArr = {{"雨天操", rain}};
            const QDateTime t = WholeSecondAhead(3);
            if (t.date() != QDate::currentDate()) {
                QSKIP("too close to midnight");
            }
            store.AddEvent({0, WeekdayName(t.date()), "操", TimeText(t.time()), a, "00:00:01", "√",
                            "雨天操", "111111"});
            GstPlayer player;
            QSignalSpy first(&player, &Player::FirstSample);
            QSignalSpy states(&player, &Player::PlayStateChange);
            ScheduleEngine engine(vars, *store.conn, clock, player, &prompt);
            engine.LoadTodayEvents();
            QTRY_VERIFY_WITH_TIMEOUT(player.StartArmed(a, t, {}), 5000); // prepared and armed
            if (QDateTime::currentDateTime() > t.addMSecs(-200)) {
                continue;
            }
            engine.SetRainMode(true);
            QVERIFY(player.StartArmed(rain, t, {}));
            QTRY_COMPARE_WITH_TIMEOUT(first.count(), 1, 10000);
            QCOMPARE(first.at(0).at(0).toString(), rain);
            // The replacement played to its end, and the original never started after it.
            QTRY_VERIFY_WITH_TIMEOUT(!states.isEmpty() && states.last().at(1).toInt() == 0, 5000);
            QCOMPARE(first.count(), 1);
            engine.StopSchedule();
            return;
        }
        QFAIL("three times the test thread first ran after the second: the machine is too busy");
    }

    // The clock is set back 5 s just before a bell, once as the player is told at once and
    // once too late for it; later it is set an hour forward by mistake and then corrected.
    void clockStepsRingEachBellOnceAndGiveBackTheBellsTheyPassed() {
        for (const bool playerFollows : {true, false}) {
            Rig r;
            PlayLogCapture log;
            QSignalSpy records(&r.engine, &ScheduleEngine::Recorded);
            r.player.followsSteps = playerFollows;
            r.Event("星期一", "08:00:00", "上课", r.File("a.wav"));
            r.Event("星期一", "08:30:00", "下课", r.File("b.wav"));
            r.Event("星期一", "09:00:00", "上课", r.File("c.wav"));
            r.At(kMonday, QTime(7, 59, 55));
            r.engine.LoadTodayEvents();
            r.RunUntil(QTime(7, 59, 59));
            QVERIFY(r.player.StartPending()); // armed a second ahead
            r.clock.AdvanceMs(900);
            r.clock.Step(-5000); // 100 ms before the bell
            r.clock.AdvanceMs(100);
            r.engine.Tick();
            r.RunUntil(QDateTime(kMonday, QTime(8, 0, 10)));
            QCOMPARE(r.Plays().size(), 1);
            const auto fired = records.last()[0].value<PlayRecordRow>();
            QCOMPARE(fired.outcome, PlayOutcome::Fired);
            if (playerFollows) {
                QCOMPARE(r.Played(), QStringList{"2026-12-07 08:00:00 a.wav"});
                QVERIFY(fired.lateMs == 0);
            } else {
                QCOMPARE(r.Played(), QStringList{"2026-12-07 07:59:55 a.wav"});
                QCOMPARE(fired.lateMs, -5000);
                QVERIFY2(fired.reason.contains("set back"), qPrintable(fired.reason));
            }
            // An hour forward by mistake: 08:30 and 09:00 pass while it is wrong …
            r.At(kMonday, QTime(8, 10));
            r.engine.Tick();
            r.clock.Step(3600 * 1000);
            r.clock.Advance(1);
            r.engine.Tick();
            QCOMPARE(log.Matching("missed").size(), 2);
            // … and ring at their own time once it is put right.
            r.clock.Step(-3600 * 1000);
            r.RunUntil(QTime(9, 0, 5));
            QCOMPARE(r.Played().mid(1),
                     (QStringList{"2026-12-07 08:30:00 b.wav", "2026-12-07 09:00:00 c.wav"}));
            QCOMPARE(log.Matching("the clock was set back by").size(), 2);
            QCOMPARE(log.Matching("already played").size(), 0);
        }
    }

    // A bell at midnight is prepared and armed ahead as any other: by ticks a second apart,
    // and by a simulation that leaps to what is due.
    void aBellAtMidnightIsArmedAhead() {
        for (const bool leap : {false, true}) {
            Rig r;
            QSignalSpy records(&r.engine, &ScheduleEngine::Recorded);
            const QString bell = r.File("midnight.wav");
            r.Event("星期二", "00:00:00", "零点", bell);
            r.Event("星期一", "22:00:00", "熄灯", r.File("night.wav"));
            r.At(kMonday, QTime(21, 0));
            r.engine.LoadTodayEvents();
            const QDateTime end(kMonday.addDays(1), QTime(0, 0, 3));
            leap ? r.FastForward(end) : r.RunUntil(end);
            QCOMPARE(r.Plays().size(), 2);
            const auto armed =
                std::find_if(r.player.calls.begin(), r.player.calls.end(),
                             [&](const auto& c) { return c.what == "playat" && c.file == bell; });
            QVERIFY(armed != r.player.calls.end());
            QCOMPARE(armed->when.date(), kMonday); // before midnight
            QCOMPARE(r.Played().last(), QString("2026-12-08 00:00:00 midnight.wav"));
            QCOMPARE(records.last()[0].value<PlayRecordRow>().date, QString("2026-12-08"));
        }
    }

    // A file that passes the look ahead of time and fails at its second is a failed bell, and
    // a bell fired late with no sound device still says how late.
    void aBellThatFailsOrIsLateIsRecordedSo() {
        {
            Rig r;
            QSignalSpy records(&r.engine, &ScheduleEngine::Recorded);
            r.player.SetOutput(false);
            r.Event("星期一", "08:00:00", "上课", r.File("a.wav"));
            r.At(kMonday, QTime(7, 59, 59));
            r.engine.LoadTodayEvents();
            r.At(kMonday, QTime(8, 0, 50)); // the clock jumped meanwhile
            r.engine.Tick();
            QCOMPARE(records.size(), 1);
            QCOMPARE(records[0][0].value<PlayRecordRow>().lateMs, 50000);
        }
        TempStore store;
        ProgramVars vars;
        SystemClock clock;
        FakePrompt prompt;
        const QString good = store.dir.path() + "/good.wav", cut = store.dir.path() + "/cut.wav";
        QVERIFY(media::Make(good, 0.5));
        {
            QFile in(good), out(cut);
            QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
            out.write(in.read(30));
        }
        const QDateTime t = WholeSecondAhead(3);
        if (t.date() != QDate::currentDate()) {
            QSKIP("too close to midnight");
        }
        store.AddEvent({0, WeekdayName(t.date()), "铃", TimeText(t.time()), cut, "00:00:01", "√",
                        "", "111111"});
        GstPlayer player;
        PlayLogCapture log;
        ScheduleEngine engine(vars, *store.conn, clock, player, &prompt);
        QSignalSpy records(&engine, &ScheduleEngine::Recorded);
        engine.LoadTodayEvents();
        QTRY_COMPARE_WITH_TIMEOUT(records.size(), 1, 20000);
        const auto record = records[0][0].value<PlayRecordRow>();
        QCOMPARE(record.outcome, PlayOutcome::Failed);
        QVERIFY(record.lateMs >= 0);
        QCOMPARE(log.Matching("fire").size(), 0);
        QCOMPARE(log.Matching("error ").filter("\"铃\"").size(), 1); // the event's own line
        engine.StopSchedule();
    }

    // The store named as a sound (typed into a file box) is refused without being opened:
    // opening it would drop the locks the store's connection holds on it.
    void theStoreItselfIsNeverOpenedAsASound() {
        Rig r;
        const QString db = r.store.conn->Path();
        QVERIFY(r.store.conn->HoldsLocks());
        GstPlayer player;
        QCOMPARE(player.WhyUnplayable(db),
                 QString("is the program's own database, not a sound file"));
        QCOMPARE(player.MeasureDuration(db), -1.0);
        QCOMPARE(player.MeasureDuration(db + "-wal"), -1.0);
        player.SetFileName(db, {});
        player.Play();
        QVERIFY(r.store.conn->HoldsLocks());
    }

    void anUnplayableFileIsOneErrorLineThatSaysWhy() {
        Rig r;
        PlayLogCapture log;
        r.player.realFileCheck = true;
        const QString text = r.File("notes.mp3");
        {
            QFile f(text);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("these are the minutes of the staff meeting, not a song\n");
        }
        r.Event("星期一", "08:00:00", "广播", text);
        r.At(kMonday, QTime(7, 59, 55));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 2)));
        QVERIFY(r.Plays().isEmpty());
        QVERIFY(log.Matching("fire").isEmpty());
        const QStringList errors = log.Matching("error 08:00:00 \"广播\"");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains("not a sound file"), qPrintable(errors.first()));
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "test_engine.moc"
