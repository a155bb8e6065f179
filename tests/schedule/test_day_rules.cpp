// SPDX-License-Identifier: GPL-3.0-or-later
// Special days in the schedule: the rule of a date, no-bell days, make-up days, ranges over
// midnight and a week, days added while running; and the tray's stop and play-now.
#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "schedule/day_rule.h"
#include "schedule/local_day.h"
#include "schedule/schedule_engine.h"
#include "store/config_loader.h"
#include "support/engine_rig.h"
#include "support/fakes.h"
#include "support/temp_store.h"

#include <QtTest>

#include <ctime>

namespace {

const QDate kMonday(2026, 12, 7);
const QDate kWednesday = kMonday.addDays(2);
const QDate kSaturday = kMonday.addDays(5);

using Rig = EngineRig;

} // namespace

class TestSpecialDays : public QObject {
    Q_OBJECT

private slots:
    // A zone with daylight saving, for every test here: the dates they use are ordinary
    // days in it, and the year and the change days need it.
    void initTestCase() {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QVERIFY(!QDateTime(QDate(2027, 3, 28), QTime(2, 30)).isValid());
    }

    // --- daylight saving ----------------------------------------------------------------
    // Both change days, ticking every second: each bell rings once, at the instant the
    // clock shows its time; one in the skipped hour rings as the clock resumes at 03:00,
    // one in the repeated hour at its first occurrence; the countdown counts real seconds.
    void daylightSavingDaysRingEachBellOnceAtItsTime() {
        Rig r;
        PlayLogCapture log;
        for (const QString t : {"01:30:00", "02:30:00", "03:30:00", "08:00:00"}) {
            r.Event("星期日", t, t, r.File(QString(t).replace(':', "") + ".wav"));
        }
        const QDate autumn(2026, 10, 25), spring(2027, 3, 28);
        for (const QDate& d : {autumn, spring}) {
            r.At(d.addDays(-1), QTime(23, 59, 50));
            r.engine.LoadTodayEvents();
            r.vars.ShowClock = false;
            r.RunUntil(d == spring ? QDateTime(d, QTime(1, 59, 58)) : QDateTime(d, QTime(1, 0)));
            if (d == spring) {
                QCOMPARE(r.engine.LabelText(), QString("00:00:02")); // 02:30 rings at 03:00
            }
            r.RunUntil(QDateTime(d, QTime(9, 0)));
            r.engine.StopSchedule();
        }
        QStringList got;
        for (const auto& c : r.player.calls) {
            if (c.what == "play") {
                got << c.when.toUTC().toString("MM-dd hh:mm:ss ") + QFileInfo(c.file).baseName();
            }
        }
        QCOMPARE(got, (QStringList{"10-24 23:30:00 013000", "10-25 00:30:00 023000",
                                   "10-25 02:30:00 033000", "10-25 07:00:00 080000",
                                   "03-28 00:30:00 013000", "03-28 01:00:00 023000",
                                   "03-28 01:30:00 033000", "03-28 06:00:00 080000"}));
        QCOMPARE(log.Matching("the clock skips 02:30:00 today").size(), 1);
    }

    // After the spring change the clock reads summer time all day: at 10:00 the main window
    // shows 10:00:00, and the shutdown set for 10:00 asks then, not an hour later.
    void afterTheSpringChangeTheClockAndTheShutdownReadSummerTime() {
        const QDate spring(2027, 3, 28);
        const qint64 ten = QDateTime(spring, QTime(10, 0)).toMSecsSinceEpoch();
        QCOMPARE(LocalDay(spring).SecondsAt(ten), 10 * 3600);
        QCOMPARE(LocalDay(spring).SecondsAt(ten - 8 * 3600 * 1000), 3600); // still winter time
        Rig r;
        r.Event("星期日", "11:00:00", "上课", r.File("a.wav"));
        r.vars.ShowClock = true;
        r.vars.ShutDownTime = "10:00:00";
        r.At(spring, QTime(9, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QTime(10, 0));
        QCOMPARE(r.engine.LabelText(), QString("10:00:00"));
        QCOMPARE(r.prompt.opened, 0);
        r.RunUntil(QTime(10, 0, 1));
        QCOMPARE(r.prompt.opened, 1);
    }

    // 2026-09-01 to 2027-07-15: forty bells every weekday, break music, the National Day
    // holiday week with its two make-up days, the winter holiday, both daylight-saving
    // changes. Every bell rings once, at its second, on each day it belongs to.
    void aSchoolYear() {
        Rig r;
        PlayLogCapture log; // the year's lines stay out of the test output
        r.Songs("曲库_课间", {r.File("song1.mp3"), r.File("song2.mp3")});
        QHash<QString, QVector<QPair<QTime, QString>>> week;
        const QStringList days = WeekdayNames();
        for (int d = 1; d <= 5; ++d) {
            const QString bell = r.File(days[d] + ".wav");
            for (int i = 0; i < 40; ++i) {
                const QTime t = QTime(7, 0).addSecs(i * 20 * 60 + (i % 3) * 5);
                const bool brk = i == 10;
                r.Event(days[d], TimeText(t), brk ? "曲库_课间" : QString("铃%1").arg(i),
                        brk ? kBreakMusicFile : bell);
                week[days[d]].push_back({t, brk ? r.store.dir.path() + "/song1.mp3" : bell});
            }
        }
        const QString night = r.File("星期日.wav");
        for (const QString t : {"02:30:00", "20:00:00"}) {
            r.Event(days[0], t, "周日" + QString(t), night);
            week[days[0]].push_back({QTime::fromString(t), night});
        }
        for (int i = 1; i <= 7; ++i) {
            r.Special(QString("2026-10-0%1").arg(i), kNoBellsKind, "国庆节");
        }
        r.Special("2026-09-27", "星期一", "调休");
        r.Special("2026-10-10", "星期五", "调休");
        for (QDate d(2027, 1, 25); d <= QDate(2027, 2, 19); d = d.addDays(1)) {
            r.Special(d.toString(Qt::ISODate), kNoBellsKind, "寒假");
        }

        const QDate first(2026, 9, 1), last(2027, 7, 15);
        QStringList expected;
        for (QDate d = first; d <= last; d = d.addDays(1)) {
            DayRule rule = RuleForDate(d, {});
            QVector<SpecialDayRow> special;
            QVERIFY(r.store.conn->SpecialDaysOn(d.toString(Qt::ISODate), &special));
            rule = RuleForDate(d, special);
            for (const auto& [t, file] :
                 rule.bells ? week.value(rule.weekName) : QVector<QPair<QTime, QString>>{}) {
                QDateTime at(d, t);
                if (!at.isValid()) {
                    at = QDateTime(d, QTime(3, 0)); // the spring change's skipped hour
                }
                expected << at.toString(Qt::ISODate) + " " + QFileInfo(file).fileName();
            }
        }
        QVERIFY(expected.size() > 8000);

        r.At(first, QTime(6, 0));
        r.engine.LoadTodayEvents();
        r.FastForward(QDateTime(last, QTime(23, 0)));
        QStringList got;
        for (const auto& c : r.player.calls) {
            if (c.what == "play") {
                got << c.when.toString(Qt::ISODate) + " " + QFileInfo(c.file).fileName();
            }
        }
        QCOMPARE(got.size(), expected.size());
        QCOMPARE(got, expected);
        QCOMPARE(log.Matching("missed").size(), 0);
    }

    // --- the rule of a date -----------------------------------------------------------
    void anOrdinaryDateRunsItsOwnWeekday() {
        const DayRule rule = RuleForDate(kWednesday, {{1, "2026-12-10", kNoBellsKind, "x"}});
        QVERIFY(rule.bells);
        QVERIFY(!rule.special);
        QCOMPARE(rule.weekName, QString("星期三"));
        QCOMPARE(DayRuleLogLine(kWednesday, rule), QString());
    }

    void aHolidayHasNoBells() {
        const DayRule rule =
            RuleForDate(QDate(2026, 10, 1), {{1, "2026-10-01", kNoBellsKind, "国庆"}});
        QVERIFY(!rule.bells);
        QVERIFY(rule.special);
        QCOMPARE(DayRuleLogLine(QDate(2026, 10, 1), rule),
                 QString("special day 2026-10-01 国庆: no bells"));
    }

    void aMakeUpDayRunsTheNamedWeekday() {
        const DayRule rule = RuleForDate(kSaturday, {{1, "2026-12-12", "星期一", "调休"}});
        QVERIFY(rule.bells);
        QCOMPARE(rule.weekName, QString("星期一"));
        QCOMPARE(DayRuleLogLine(kSaturday, rule),
                 QString("special day 2026-12-12 调休: the timetable of 星期一"));
    }

    // Rows written by other tools: the schedule ignores exactly those it can say why of.
    void rowsTheScheduleCannotUseAreFlaggedAndIgnored() {
        const std::pair<SpecialDayRow, QString> rows[] = {
            {{1, "2026-12-12", "星期八", ""},
             "the kind \"星期八\" is neither 无铃声 nor a weekday"},
            {{2, "2026-12-12", "无铃声 ", ""}, "the kind \"无铃声 \" has blanks around it"},
            {{3, "2026-12-12 ", "星期一", ""}, "the date \"2026-12-12 \" has blanks around it"},
            {{4, "2026-2-30", "星期一", ""}, "the date \"2026-2-30\" is not a real date"},
            {{5, "2026-02-30", "星期一", ""}, "the date \"2026-02-30\" is not a real date"}};
        for (const auto& [row, why] : rows) {
            QVERIFY2(SpecialDayProblem(row).startsWith(why), qPrintable(SpecialDayProblem(row)));
            const DayRule rule = RuleForDate(kSaturday, {row});
            QVERIFY(!rule.special);
            QCOMPARE(rule.weekName, QString("星期六"));
        }
        QCOMPARE(SpecialDayProblem({6, "2026-12-12", "星期一", ""}), QString());
    }

    // A note (a file name too) with a line break stays on its one log line.
    void aLineBreakInANoteStaysOnItsLogLine() {
        Rig r;
        r.Special("2026-12-09", kNoBellsKind, "运动会\n下午补课");
        PlayLogCapture log;
        r.At(kWednesday, QTime(7, 0));
        r.engine.LoadTodayEvents();
        QCOMPARE(log.Matching("special day 2026-12-09 运动会\\n下午补课: no bells").size(), 1);
    }

    // --- the engine -------------------------------------------------------------------
    void aNoBellWednesdayPlaysNothingAndThursdayRingsAsUsual() {
        Rig r;
        r.WeekOfBells();
        r.Special("2026-12-09", kNoBellsKind, "运动会");
        PlayLogCapture log;
        r.At(kWednesday, QTime(7, 0));
        r.engine.LoadTodayEvents();
        QVERIFY(r.engine.NoBellsToday());
        QVERIFY(!r.engine.Armed());
        r.RunUntil(QDateTime(kWednesday.addDays(1), QTime(16, 0)));
        QCOMPARE(r.Played(),
                 QStringList({"2026-12-10 08:00:00 星期四.wav", "2026-12-10 15:00:00 星期四.wav"}));
        QCOMPARE(log.Matching("special day 2026-12-09 运动会: no bells").size(), 1);
        QVERIFY(!r.engine.NoBellsToday());
    }

    void theLabelSaysNoBellsOnANoBellDay() {
        Rig r;
        r.WeekOfBells();
        r.Special("2026-12-09", kNoBellsKind);
        r.At(kWednesday.addDays(-1), QTime(23, 59, 58));
        r.engine.LoadTodayEvents();
        r.engine.Tick();
        QCOMPARE(r.engine.LabelText(), QString("播放已结束"));
        r.RunUntil(QDateTime(kWednesday, QTime(0, 0, 1)));
        QCOMPARE(r.engine.LabelText(), QString("今日无铃声"));
        r.RunUntil(QDateTime(kWednesday.addDays(1), QTime(0, 0, 1)));
        QCOMPARE(r.engine.LabelText(), QString("00:00:01")); // Thursday rings: the clock
    }

    void aSaturdayRunningMondaysTimetablePlaysMondaysEventsAtTheirSeconds() {
        Rig r;
        r.WeekOfBells();
        r.Event("星期一", "09:30:15", "星期一课间", r.File("课间.wav"));
        r.Special("2026-12-12", "星期一", "调休");
        PlayLogCapture log;
        r.At(kSaturday, QTime(6, 0));
        r.engine.LoadTodayEvents();
        QCOMPARE(r.engine.TodayRule().weekName, QString("星期一"));
        r.RunUntil(QDateTime(kSaturday, QTime(23, 0)));
        QCOMPARE(r.Played(),
                 QStringList({"2026-12-12 08:00:00 星期一.wav", "2026-12-12 09:30:15 课间.wav",
                              "2026-12-12 15:00:00 星期一.wav"}));
        QCOMPARE(log.Matching("special day 2026-12-12 调休: the timetable of 星期一").size(), 1);
        // The weekday of the date itself is still what the week page opens on.
        QCOMPARE(r.vars.CurWeekName, QString("星期六"));
    }

    void aHolidayRangeAcrossMidnightAndAWeek() {
        Rig r;
        r.WeekOfBells();
        r.Event("星期一", "23:59:59", "星期一晚", r.Bell("星期一"));
        // Tuesday to the next Monday: no bells; the Monday before and the Tuesday after ring.
        for (int d = 1; d <= 7; ++d) {
            r.Special(kMonday.addDays(d).toString("yyyy-MM-dd"), kNoBellsKind, "假期");
        }
        r.At(kMonday, QTime(7, 0));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday.addDays(8), QTime(23, 0)));
        QCOMPARE(r.Played(),
                 QStringList({"2026-12-07 08:00:00 星期一.wav", "2026-12-07 15:00:00 星期一.wav",
                              "2026-12-07 23:59:59 星期一.wav", "2026-12-15 08:00:00 星期二.wav",
                              "2026-12-15 15:00:00 星期二.wav"}));
    }

    void aDayAddedWhileRunningTakesEffectAtTheNextActivation() {
        Rig r;
        r.WeekOfBells();
        r.At(kWednesday, QTime(7, 0));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kWednesday, QTime(9, 0)));
        r.Special("2026-12-09", kNoBellsKind, "停电");
        r.RunUntil(QDateTime(kWednesday, QTime(10, 0)));
        QVERIFY(!r.engine.NoBellsToday()); // read at activation, not at every tick
        r.engine.LoadTodayEvents();        // the main window active again
        QVERIFY(r.engine.NoBellsToday());
        r.RunUntil(QDateTime(kWednesday, QTime(16, 0)));
        QCOMPARE(r.Played(), QStringList({"2026-12-09 08:00:00 星期三.wav"}));
    }

    void aDayAddedWhileRunningTakesEffectAtMidnight() {
        Rig r;
        r.WeekOfBells();
        r.At(kWednesday, QTime(7, 0));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kWednesday, QTime(20, 0)));
        r.Special("2026-12-10", "星期五", "换课");
        r.RunUntil(QDateTime(kWednesday.addDays(1), QTime(16, 0)));
        QCOMPARE(r.Played(),
                 QStringList({"2026-12-09 08:00:00 星期三.wav", "2026-12-09 15:00:00 星期三.wav",
                              "2026-12-10 08:00:00 星期五.wav", "2026-12-10 15:00:00 星期五.wav"}));
    }

    void theShutdownCheckRunsOnANoBellDay() {
        Rig r;
        r.Special("2026-12-09", kNoBellsKind);
        r.vars.ShutDownTime = "17:00:00";
        r.At(kWednesday, QTime(16, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kWednesday, QTime(17, 0, 5)));
        QCOMPARE(r.prompt.opened, 1);
    }

    void anUnreadableSpecialDayTableIsTriedAgainNotTakenAsOrdinary() {
        Rig r;
        r.WeekOfBells();
        r.Special("2026-12-09", kNoBellsKind);
        r.store.Raw("ALTER TABLE 特殊日期 RENAME TO 特殊日期_暂时");
        r.At(kWednesday, QTime(7, 59, 50));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kWednesday, QTime(7, 59, 55)));
        r.store.Raw("ALTER TABLE 特殊日期_暂时 RENAME TO 特殊日期");
        r.RunUntil(QDateTime(kWednesday, QTime(8, 0, 30)));
        QVERIFY(r.engine.NoBellsToday());
        QVERIFY(r.Played().isEmpty());
    }

    // --- stop and play now ------------------------------------------------------------
    void stopEndsBreakMusicAndTheScheduleGoesOn() {
        Rig r;
        r.store.AddSong("曲库_A", r.File("s1.mp3"), "00:03:00");
        r.store.AddSong("曲库_A", r.File("s2.mp3"), "00:03:00");
        r.Event("星期一", "08:00:00", "曲库_A", kBreakMusicFile);
        r.Event("星期一", "08:10:00", "上课", r.File("bell.wav"));
        PlayLogCapture log;
        r.At(kMonday, QTime(7, 59, 58));
        r.engine.LoadTodayEvents();
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 5)));
        QVERIFY(r.engine.BreakPlaying());
        r.engine.StopPlaying();
        QVERIFY(!r.engine.BreakPlaying());
        QVERIFY(!r.player.IsPlaying());
        QCOMPARE(log.Matching("stop  playback halted by hand (break music ends)").size(), 1);
        r.player.Finish(); // nothing more comes of the halted song
        QCOMPARE(r.Played().size(), 1);
        QCOMPARE(r.engine.NextEvent(), QString("上课"));
        r.RunUntil(QDateTime(kMonday, QTime(8, 10, 1)));
        QCOMPARE(r.Played().last(), QString("2026-12-07 08:10:00 bell.wav"));
    }

    void playNowPlaysTheChosenEventAndLeavesWhatIsArmed() {
        Rig r;
        const QString bell = r.File("bell.wav"), morning = r.File("早操.mp3");
        const qint64 exercise = r.Event("星期一", "07:30:00", "早操", morning);
        r.Event("星期一", "08:00:00", "上课", bell);
        PlayLogCapture log;
        r.At(kMonday, QTime(7, 50));
        r.engine.LoadTodayEvents();
        QVERIFY(r.engine.PlayNow(exercise));
        QCOMPARE(r.player.plays, QStringList{morning});
        QVERIFY(r.engine.Armed());
        QCOMPARE(r.engine.NextEvent(), QString("上课"));
        QCOMPARE(r.engine.NextTime(), QString("08:00:00"));
        QCOMPARE(r.engine.NextMusic(), bell);
        QCOMPARE(log.Matching(QString("manual event id %1 \"早操\"").arg(exercise)).size(), 1);
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 1)));
        QCOMPARE(r.player.plays, (QStringList{morning, bell}));
    }

    void anEventPlayedByHandStillFiresAtItsOwnSecond() {
        Rig r;
        const QString bell = r.File("bell.wav");
        const qint64 id = r.Event("星期一", "08:00:00", "上课", bell);
        r.At(kMonday, QTime(7, 50));
        r.engine.LoadTodayEvents();
        QVERIFY(r.engine.PlayNow(id));
        r.RunUntil(QDateTime(kMonday, QTime(8, 0, 1)));
        QCOMPARE(r.player.plays, (QStringList{bell, bell}));
    }

    void playNowUsesTheRainReplacement() {
        Rig r;
        const QString exercise = r.File("操.mp3"), rain = r.File("雨天操.mp3");
        r.store.AddReplace("雨天操", rain, "00:05:00");
        QVERIFY(SetReplaceMusicArr(r.vars, *r.store.conn));
        const qint64 id = r.Event("星期一", "10:00:00", "广播操", exercise, "雨天操");
        r.At(kMonday, QTime(9, 0));
        r.engine.LoadTodayEvents();
        r.engine.SetRainMode(true);
        QVERIFY(r.engine.PlayNow(id));
        QCOMPARE(r.player.plays, QStringList{rain});
    }

    void playNowOfBreakMusicStartsTheLibrary() {
        Rig r;
        const QString song = r.File("s1.mp3");
        r.store.AddSong("曲库_A", song, "00:03:00");
        const qint64 id = r.Event("星期一", "10:00:00", "曲库_A", kBreakMusicFile);
        r.At(kMonday, QTime(9, 0));
        r.engine.LoadTodayEvents();
        QVERIFY(r.engine.PlayNow(id));
        QVERIFY(r.engine.BreakPlaying());
        QCOMPARE(r.player.plays, QStringList{song});
    }

    void playNowOfADeletedEventSaysSoAndPlaysNothing() {
        Rig r;
        r.At(kMonday, QTime(9, 0));
        r.engine.LoadTodayEvents();
        QString error;
        QVERIFY(!r.engine.PlayNow(4711, &error));
        QVERIFY2(error.contains("4711"), qPrintable(error));
        QVERIFY(r.player.plays.isEmpty());
    }

    void theTimetableOfferedIsTheDaysRule() {
        Rig r;
        r.WeekOfBells();
        r.Special("2026-12-12", "星期一");
        r.At(kSaturday, QTime(9, 0));
        r.engine.LoadTodayEvents();
        QVector<EventRow> rows;
        QVERIFY(r.engine.TodayTimetable(&rows));
        QCOMPARE(rows.size(), 2); // the whole day, what already rang too
        QCOMPARE(rows[0].event, QString("星期一早"));
    }
};

QTEST_GUILESS_MAIN(TestSpecialDays)
#include "test_day_rules.moc"
