// Every window and dialog of the program, filled with long realistic texts, in the program's
// font: nothing is clipped by its control or its window's region; and a clipped text is found.
#include "core/program_vars.h"
#include "support/fakes.h"
#include "support/temp_store.h"
#include "widgets/fit_check.h"
#include "widgets/message_box.h"
#include "widgets/my_button.h"
#include "widgets/ui_font.h"
#include "windows/editor/modify_event.h"
#include "windows/main/main_form.h"
#include "windows/main/play_now_dialog.h"
#include "windows/main/record_form.h"
#include "windows/settings/setting_form.h"

#include <QApplication>
#include <QtTest>

namespace {

const QString kLongName = QStringLiteral("第三节课下课（高三年级提前五分钟）");
const QString kLongFile =
    QStringLiteral("/home/教务处/音乐/铃声/2026学年第一学期/下课铃-轻音乐（长版）.mp3");

QStringList Walk(QWidget* window) {
    window->show();
    [&] { QVERIFY(QTest::qWaitForWindowExposed(window)); }();
    return ClippedParts(window);
}

} // namespace

class TestWindowFit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QFont f(UiFontFamily());
        f.setPixelSize(12);
        QApplication::setFont(f);
    }

    void everyWindowFitsItsTexts() {
        TempStore store;
        ProgramVars vars;
        vars.CurWeekName = WeekdayName(QDate::currentDate());
        vars.ClassMusicArr = {QStringLiteral("曲库_午休轻音乐（高一高二）")};
        vars.ReplaceMusicArr = {{QStringLiteral("雨天音乐（室内操）"), kLongFile}};
        FakeClock clock;
        clock.Set(QDateTime::currentDateTime());
        FakePlayer player(&clock);
        FakePrompt prompt;
        ScheduleEngine engine(vars, *store.conn, clock, player, &prompt);
        QVector<EventRow> events;
        for (const char* t : {"07:50:00", "10:05:30", "23:59:59"}) {
            const EventRow r{
                0,         vars.CurWeekName, kLongName, t,
                kLongFile, "00:03:25",       "√",       QStringLiteral("雨天音乐（室内操）"),
                "111111"};
            events << r;
            events.back().id = store.AddEvent(r);
            store.conn->AddPlayRecord({0, QDate::currentDate().toString("yyyy-MM-dd"), t, kLongName,
                                       kLongFile, PlayOutcome::Failed, 1250,
                                       QStringLiteral("文件不存在或无法读取，已跳过")});
        }
        QStringList bad;

        MainForm main(vars, *store.conn, player, engine);
        main.ShowFileProblems({{"07:50:00", kLongName, kLongFile, "does not exist"}});
        player.SetOutput(false);
        bad << Walk(&main);

        PlayNowDialog playNow(events, &main);
        bad << Walk(&playNow);
        RecordForm records(*store.conn, QDate::currentDate(), &main);
        bad << Walk(&records);

        SettingsState state;
        SettingForm settings(vars, *store.conn, player, state, &main);
        for (int page = 0; page < SettingForm::kPageCount; ++page) {
            settings.MenuGroup_Click(page);
            bad << Walk(&settings);
        }
        for (qint64 id : {qint64(0), events[1].id}) {
            ModifyEvent editor(vars, *store.conn, player, vars.CurWeekName, id, &main);
            editor.Load();
            bad << Walk(&editor);
        }

        const QString icsError = QStringLiteral(
            "没有导入任何日期。/home/教务处/下载/2027年全国法定节假日安排（国务院办公厅"
            "通知）.ics 有错误：第 12 行：不是全天事件：开始须是日期，如 "
            "DTSTART;VALUE=DATE:20261001");
        for (const QString& text :
             {icsError, QStringLiteral("退出后将不再按时播放铃声。确定退出吗？"),
              QStringLiteral("好")}) {
            for (MsgMode mode : {MsgMode::Notice, MsgMode::Confirm}) {
                MsgBlock msg{QStringLiteral("特殊日期"), text, mode, false};
                MessageBox box(msg, nullptr, &main);
                bad << Walk(&box);
            }
        }
        for (const QString& b : bad) {
            qWarning().noquote() << b;
        }
        QCOMPARE(bad.size(), 0);

        // The check sees a text beyond its label and a button beyond the region.
        MsgBlock msg{QStringLiteral("特殊日期"), QStringLiteral("好"), MsgMode::Confirm, false};
        MessageBox box(msg, nullptr, &main);
        box.Label1->setWordWrap(false);
        box.Label1->setText(icsError);
        box.MyButton2->move(box.width() - 20, box.MyButton2->y());
        const QStringList cut = Walk(&box);
        QCOMPARE(cut.filter("MessageBox/Label1(QLabel): text needs").size(), 1);
        QCOMPARE(cut.filter("MessageBox/MyButton2(MyButton): ").size(), 1);
    }
};

QTEST_MAIN(TestWindowFit)
#include "test_window_fit.moc"
