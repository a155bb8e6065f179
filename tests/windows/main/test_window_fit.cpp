// SPDX-License-Identifier: GPL-3.0-or-later
// Every window and dialog of the program, filled with long realistic texts, in the program's
// font: nothing is clipped by its control or its window's region; and a clipped text is found.
#include "core/program_vars.h"
#include "support/fakes.h"
#include "support/temp_store.h"
#include "widgets/fit_check.h"
#include "widgets/message_box.h"
#include "widgets/ui_font.h"
#include "windows/editor/modify_event.h"
#include "windows/main/main_form.h"
#include "windows/main/play_now_dialog.h"
#include "windows/main/record_form.h"
#include "windows/settings/setting_form.h"

#include <QApplication>
#include <QtTest>

QStringList Walk(QWidget* window) {
    window->show();
    return QTest::qWaitForWindowExposed(window) ? ClippedParts(window) : QStringList{"unshown"};
}

class TestWindowFit : public QObject {
    Q_OBJECT
private slots:
    void everyWindowFitsItsTexts() {
        QFont font(UiFontFamily());
        font.setPixelSize(12);
        QApplication::setFont(font);
        const QString name = "第三节课下课（高三年级提前五分钟）", rain = "雨天音乐（室内操）";
        const QString file = "/home/教务处/音乐/铃声/2026学年第一学期/下课铃-轻音乐（长版）.mp3";
        TempStore store;
        ProgramVars vars;
        vars.CurWeekName = WeekdayName(QDate::currentDate());
        vars.ClassMusicArr = {"曲库_午休轻音乐（高一高二）"};
        vars.ReplaceMusicArr = {{rain, file}};
        FakeClock clock(QDateTime(QDate::currentDate(), QTime(7, 49)));
        FakePlayer player(&clock);
        ScheduleEngine engine(vars, *store.conn, clock, player, nullptr);
        engine.SetTimerDriven(false);
        QVector<EventRow> events;
        for (const char* t : {"07:50:00", "10:05:30", "23:59:59"}) {
            events << EventRow{0, vars.CurWeekName, name, t, file, "00:03:25", "√", rain, "111111"};
            events.back().id = store.AddEvent(events.back());
            store.conn->AddPlayRecord({0, QDate::currentDate().toString("yyyy-MM-dd"), t, name,
                                       file, PlayOutcome::Failed, 1250, "文件不存在或无法读取"});
        }
        MainForm main(vars, *store.conn, player, engine);
        engine.LoadTodayEvents(); // the file is missing: a warning line with a long tip
        QTRY_VERIFY(!engine.TodayProblems().isEmpty());
        player.SetOutput(false);
        auto* editor =
            new ModifyEvent(vars, *store.conn, player, vars.CurWeekName, events[0].id, &main);
        editor->Load();
        MsgBlock question{"退出程序", "退出后将不再按时播放铃声。确定退出吗？", MsgMode::Confirm};
        MsgBlock notice{"特殊日期", "没有导入任何日期。/home/jiaowu/Downloads/holidays_2027.ics "
                                    "有错误：第 12 行：不是全天事件：开始须是日期，如 "
                                    "DTSTART;VALUE=DATE:20261001"};
        QStringList bad =
            Walk(&main) + Walk(new PlayNowDialog(events + events + events + events, &main)) +
            Walk(editor) + Walk(new RecordForm(*store.conn, QDate::currentDate(), &main)) +
            Walk(new MessageBox(question, nullptr, &main)) +
            Walk(new MessageBox(notice, nullptr, &main));
        SettingsState state;
        SettingForm settings(vars, *store.conn, player, state, &main);
        settings.SetDueSoon([] {
            return QVector<EventRow>{
                {0, "星期一", "全校广播体操（雨天改为室内操）", "10:00:00", "", "", "√", "", ""}};
        });
        for (int page = 0; page < SettingForm::kPageCount; ++page) {
            settings.SelectPage(page);
            bad << Walk(&settings);
        }
        QVERIFY2(bad.isEmpty(), qPrintable(bad.join('\n')));

        // The check sees a text beyond its label and a button beyond the region.
        main.findChild<QLabel*>("Lab_version")->setText(notice.MsgText);
        main.findChild<QWidget*>("MyButton_Hide")->move(main.width() - 10, 10);
        const QRegularExpression cut("/(Lab_version|MyButton_Hide)\\(");
        QCOMPARE(ClippedParts(&main).filter(cut).size(), 2);
    }
};

QTEST_MAIN(TestWindowFit)
#include "test_window_fit.moc"
