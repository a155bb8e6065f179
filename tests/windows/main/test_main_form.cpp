// SPDX-License-Identifier: GPL-3.0-or-later
// The main window offscreen: visibility and its menu, activation and deactivation, the
// label, the mode menu, exit and the start-hidden option.
#include "core/program_vars.h"
#include "core/time_text.h"
#include "store/conn.h"
#include "support/engine_rig.h"
#include "support/settle.h"
#include "system/clock_sync.h"
#include "widgets/message_box.h"
#include "widgets/my_button.h"
#include "windows/main/main_form.h"
#include "windows/main/schedule_windows.h"
#include "windows/settings/setting_form.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

namespace {

struct Rig : EngineRig {
    explicit Rig(bool minToTray = false, bool tray = true) {
        vars.MinToTray = minToTray;
        clock.Set(QDateTime(QDate::currentDate(), QTime(8, 0)));
        form = std::make_unique<MainForm>(vars, *store.conn, player, engine);
        form->SetTrayAvailable(tray);
        form->onExit = [this] { exited = true; };
    }
    QAction* Action(const char* name) { return form->findChild<QAction*>(name); }
    void ShowAndActivate() {
        form->show();
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    qint64 AddToday(const QString& start, const QString& name) {
        return store.AddEvent({0, WeekdayName(clock.Now().date()), name, start,
                               store.dir.path() + "/x.wav", "00:00:01", "√", "", "111111"});
    }

    std::unique_ptr<MainForm> form;
    bool exited = false;
};

// Closes the next modal window as soon as it appears.
void CloseNextModal() {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            w->close();
            timer->deleteLater();
        }
    });
    timer->start(20);
}

// Runs act on the next modal window as soon as it appears, then closes it.
void OnNextModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            act(w);
            w->close();
            timer->deleteLater();
        }
    });
    timer->start(20);
}

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT

private slots:
    void controlsAreNamed() {
        Rig r;
        for (const char* name :
             {"Lab_ShowTime", "Picture1", "ImgIcon", "ImgTitle", "Img_FormTitle", "Lab_FormTitle",
              "MyButton1", "MyButton_Hide", "yButton_Close", "Lab_version", "NotifyMenu"}) {
            QVERIFY2(r.form->findChild<QWidget*>(name), name);
        }
        // The one-second timer belongs to the engine, which the application owns.
        QVERIFY(r.engine.findChild<QTimer*>("MainTimer"));
        QCOMPARE(r.form->windowTitle(), QString("Belvoran"));
        QCOMPARE(r.form->findChild<QLabel*>("Lab_version")->text(), QString("201003(V4.2)"));
        QCOMPARE(r.form->findChild<QLabel*>("Lab_FormTitle")->text(), QString("Belvoran"));
        QCOMPARE(r.Action("Menu_Show")->text(), QString("显示窗口"));
        QCOMPARE(r.Action("Menu_Exit")->text(), QString("退出程序"));
        QCOMPARE(r.form->TrayIcon()->toolTip(), QString("Belvoran"));
    }

    // A tray that comes after the program takes the hidden window; one that goes gives it back.
    void aTrayIsWatchedForAfterTheStart() {
        Rig r(false, false);
        bool tray = false;
        r.form->TrayProbe = [&tray] { return tray; };
        QVERIFY(r.form->findChild<QTimer*>("Timer_Tray")->isActive());
        r.ShowAndActivate();
        r.form->CheckTray();
        r.form->HideWindow();
        QVERIFY(r.form->isVisible() && r.form->isMinimized()); // no tray: minimised
        r.form->ShowWindow();
        tray = true; // the desktop's tray host started
        r.form->CheckTray();
        QVERIFY(r.form->TrayAvailable());
        QVERIFY(r.form->TrayIcon()->isVisible());
        r.form->HideWindow();
        QVERIFY(!r.form->isVisible());
        tray = false; // and went away: the hidden window comes back minimised
        r.form->CheckTray();
        QVERIFY(!r.form->TrayAvailable());
        QTRY_VERIFY(r.form->isVisible());
        QVERIFY(r.form->isMinimized());
    }

    void showHideInvariant() {
        Rig r;
        r.ShowAndActivate();
        QVERIFY(!r.Action("Menu_Show")->isEnabled());
        QVERIFY(r.Action("Menu_Hide")->isEnabled());
        r.form->HideWindow();
        QVERIFY(!r.form->isVisible());
        QVERIFY(r.Action("Menu_Show")->isEnabled());
        QVERIFY(!r.Action("Menu_Hide")->isEnabled());
        QVERIFY(r.form->Engine().Running()); // hidden, the schedule goes on
        r.form->ShowWindow();
        QVERIFY(r.form->isVisible());
        QVERIFY(!r.Action("Menu_Show")->isEnabled());
        QVERIFY(r.Action("Menu_Hide")->isEnabled());
    }

    void withoutTrayHidingMinimises() {
        Rig r(false, false);
        r.ShowAndActivate();
        QTest::mouseClick(r.form->findChild<QWidget*>("MyButton_Hide"), Qt::LeftButton);
        QVERIFY(r.form->isVisible());
        QVERIFY(r.form->isMinimized());
        QVERIFY(r.Action("Menu_Show")->isEnabled());
    }

    void returningFromSettingsRereadsToday() {
        Rig r;
        r.AddToday("09:00:00", "first");
        r.ShowAndActivate();
        QCOMPARE(r.form->Engine().NextEvent(), QString("first"));
        r.AddToday("08:30:00", "added in the settings");
        CloseNextModal();
        r.player.SetFileName("/music/playing.mp3", {});
        r.player.Play();
        r.form->OpenSettings(); // halts, stops, opens the settings modally
        QVERIFY(!r.player.IsPlaying());
        QCOMPARE(r.form->Engine().NextEvent(), QString("added in the settings"));
        QVERIFY(r.form->Engine().Running());
    }

    void settingsReopenOnTheWeekdayLastChosenWhileTheScheduleKeepsToday() {
        Rig r;
        r.AddToday("09:00:00", "today's bell");
        r.ShowAndActivate();
        const QString today = WeekdayName(r.clock.Now().date());
        const QString other = today == "星期五" ? "星期六" : "星期五";
        QStringList shown;
        auto look = [&](QWidget* w) {
            auto* combo = w->findChild<QComboBox*>("Combo_Week");
            shown << (combo ? combo->currentText() : QString("no week page"));
            if (combo) {
                combo->setCurrentText(other);
            }
        };
        OnNextModal(look);
        r.form->OpenSettings();
        OnNextModal(look);
        r.form->OpenSettings();
        QCOMPARE(shown, QStringList({today, other}));
        QCOMPARE(r.vars.CurWeekName, today);
        QCOMPARE(r.form->Engine().NextEvent(), QString("today's bell"));
    }

    void switchingApplicationsKeepsRunningAndRereads() {
        Rig r;
        r.AddToday("09:00:00", "first");
        r.ShowAndActivate();
        QApplication::setActiveWindow(nullptr); // another application in front
        QVERIFY(Settle());                      // the deactivation is judged from the event loop
        QVERIFY(r.form->Engine().Running());
        r.AddToday("08:10:00", "added with sqlite3");
        QApplication::setActiveWindow(r.form.get());
        QTRY_COMPARE(r.form->Engine().NextEvent(), QString("added with sqlite3"));
    }

    void anotherProgramWindowStopsTheSchedule() {
        Rig r;
        r.AddToday("09:00:00", "later");
        r.ShowAndActivate();
        QVERIFY(r.form->Engine().Running());
        QDialog other;
        other.show();
        QApplication::setActiveWindow(&other);
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QTRY_VERIFY(!r.form->Engine().Running());
        QCOMPARE(r.form->findChild<QLabel*>("Lab_ShowTime")->text(), QString("播放已结束"));
        other.close();
        QApplication::setActiveWindow(r.form.get());
        QTRY_VERIFY(r.form->Engine().Running());
    }

    void shutdownPromptOpensWithoutWaiting() {
        FakePowerOff power;
        MessageBoxShutdownPrompt prompt(power, nullptr);
        int closedWith = -1;
        prompt.OpenShutdownCountdown([&](bool off) { closedWith = off; });
        // Back at once, with the countdown box up.
        MessageBox* box = prompt.OpenBox();
        QVERIFY(box);
        QVERIFY(box->isVisible());
        QCOMPARE(box->findChild<QLabel*>("Lab_FormTitle")->text(), QString("关机提示"));
        QCOMPARE(box->findChild<QLabel*>("Label1")->text(), QString("5 秒后将关闭计算机!"));
        QVERIFY(box->findChild<QTimer*>("Timer1")->isActive());
        QCOMPARE(closedWith, -1);
        QTest::mouseClick(box->findChild<MyButton*>("MyButton2"), Qt::LeftButton);
        QCOMPARE(closedWith, 0);
        QTRY_VERIFY(!prompt.OpenBox()); // deleted once closed
        QCOMPARE(power.calls, 0);
    }

    void theShutdownCountdownDoesNotStopTheSchedule() {
        Rig r;
        r.AddToday("09:00:00", "later");
        r.ShowAndActivate();
        FakePowerOff power;
        power.accept = false;
        MessageBoxShutdownPrompt prompt(power, nullptr);
        prompt.OpenShutdownCountdown(nullptr);
        QWidget* box = prompt.OpenBox();
        QApplication::setActiveWindow(box);
        QVERIFY(QTest::qWaitForWindowActive(box));
        QVERIFY(Settle()); // the deactivation is judged once the change is complete
        QVERIFY(r.form->Engine().Running());
        box->close();
    }

    void lateActivationAfterHidingLeavesShowReachable() {
        Rig r;
        r.ShowAndActivate();
        r.form->HideWindow();
        QVERIFY(!r.form->isVisible());
        // An activation that was on its way when the window hid.
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(r.form.get(), &activate);
        QVERIFY(r.Action("Menu_Show")->isEnabled());
        QVERIFY(!r.Action("Menu_Hide")->isEnabled());
        r.form->ShowWindow();
        QVERIFY(r.form->isVisible());
    }

    void noSoundAndUnplayableBellsAreShownInTheWindowAndTheTrayTip() {
        Rig r;
        r.ShowAndActivate();
        auto* warning = r.form->findChild<QLabel*>("Lab_Warning");
        auto* problems = r.form->findChild<QLabel*>("Lab_Problems");
        QVERIFY(warning && problems);
        QVERIFY(!warning->isVisible());
        r.player.SetOutput(false); // the start-up check found no sound device
        QVERIFY(warning->isVisible());
        QCOMPARE(warning->text(), QString("无法输出声音"));
        QVERIFY(r.form->TrayIcon()->toolTip().contains("无法输出声音"));
        // Two bells whose files are gone, and one missed while the settings are open.
        const QString week = WeekdayName(r.clock.Now().date());
        r.Event(week, "08:00:05", "上课", "/m/gone.wav");
        r.Event(week, "09:30:00", "下课", "/m/x.wav");
        r.Event(week, "08:00:10", "眼保健操", r.File("eyes.wav"));
        r.engine.LoadTodayEvents();
        QTRY_COMPARE(problems->text(), QString("今日有 2 个铃声无法播放"));
        QVERIFY(warning->isVisible() && problems->isVisible());
        QVERIFY(problems->toolTip().contains("08:00:05 上课：/m/gone.wav 文件不存在"));
        QVERIFY(!warning->geometry().intersects(problems->geometry()));
        QVERIFY(r.form->rect().contains(problems->geometry()));
        QCOMPARE(r.form->TrayIcon()->toolTip(),
                 QString("Belvoran\n无法输出声音\n今日有 2 个铃声无法播放"));
        // A clock never synchronised: a line of its own, apart from the others, in the tip.
        r.form->ShowClockState(ClockSyncText({true, false, 16000000}));
        auto* clock = r.form->findChild<QLabel*>("Lab_Clock");
        QVERIFY(clock->isVisible() && r.form->rect().contains(clock->geometry()));
        QVERIFY(!clock->geometry().intersects(problems->geometry()));
        QVERIFY(r.form->TrayIcon()->toolTip().endsWith("\n本机时钟未同步"));
        r.form->ShowClockState(ClockSyncText(ReadClockSync())); // this machine's, either way
        r.form->ShowClockState(QString());
        QVERIFY(!clock->isVisible());
        // At its second the first fails: no longer ahead, but not rung, at once.
        r.RunUntil(QTime(8, 0, 6));
        QCOMPARE(problems->text(),
                 QString("今日有 1 个铃声无法播放；今日有 1 个铃声未响（见今日记录）"));
        r.engine.StopSchedule(QStringLiteral("the settings window was open"));
        r.RunUntil(QTime(8, 0, 20));
        r.engine.LoadTodayEvents();
        QCOMPARE(problems->text(),
                 QString("今日有 1 个铃声无法播放；今日有 2 个铃声未响（见今日记录）"));
        QVERIFY(problems->toolTip().contains("08:00:10 眼保健操：未响"));
        r.player.SetOutput(true); // a later play reached a real device
        QVERIFY(!warning->isVisible());
        QVERIFY(r.form->TrayIcon()->toolTip().endsWith("今日有 2 个铃声未响（见今日记录）"));
        // The next day starts clean.
        r.RunUntil(QDateTime(r.clock.Now().date().addDays(1), QTime(0, 0, 1)));
        QVERIFY(!problems->isVisible());
        QCOMPARE(r.form->TrayIcon()->toolTip(), QString("Belvoran"));
    }

    void recordsOpenFromButtonAndMenuWithFailuresInRedForAnyKeptDay() {
        Rig r;
        const QDate today = QDate::currentDate(), before = today.addDays(-30);
        const QString day = today.toString("yyyy-MM-dd");
        Conn& c = *r.store.conn;
        c.AddPlayRecord({0, day, "08:00:00", "早读", "/m/a.wav", PlayOutcome::Fired, 4, ""});
        c.AddPlayRecord({0, day, "07:00:00", "起床", "/m/b.wav", PlayOutcome::Failed, -1, "gone"});
        c.AddPlayRecord({0, before.toString("yyyy-MM-dd"), "09:00:00", "上课", "/m/c.wav",
                         PlayOutcome::Missed, -1, "asleep"});
        r.ShowAndActivate();
        QTest::mouseClick(r.form->findChild<QWidget*>("MyBt_Records"), Qt::LeftButton);
        auto* dialog = r.form->findChild<QDialog*>("RecordForm");
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(KeepsScheduleRunning(dialog));
        auto* grid = dialog->findChild<QTableWidget*>("Grid_Records");
        const QColor red(200, 30, 30);
        QCOMPARE(grid->rowCount(), 2);
        QCOMPARE(grid->item(0, 2)->text() + grid->item(0, 4)->text(), QString("失败gone"));
        QCOMPARE(grid->item(1, 0)->text() + grid->item(1, 3)->text(), QString("08:00:004 ms"));
        QCOMPARE(grid->item(0, 1)->foreground().color(), red);
        QVERIFY(grid->item(1, 1)->foreground().color() != red);
        // A record written meanwhile shows; the menu brings up the same window.
        c.AddPlayRecord({0, day, "09:00:00", "上课", "/m/c.wav", PlayOutcome::Skipped, -1, ""});
        r.form->RecordsChanged();
        QCOMPARE(grid->rowCount(), 3);
        r.Action("Menu_Records")->trigger();
        QCOMPARE(r.form->findChildren<QDialog*>("RecordForm").size(), 1);
        auto* date = dialog->findChild<QDateEdit*>("Date_Record");
        date->setDate(before);
        QCOMPARE(grid->rowCount(), 1);
        QCOMPARE(grid->item(0, 2)->text(), QString("错过"));
        QCOMPARE(grid->item(0, 0)->foreground().color(), red);
        r.form->Exit(); // the window goes before the store it reads
        QTRY_VERIFY(!r.form->findChild<QDialog*>("RecordForm"));
    }

    void focusedButtonsArePressedByEnterAndSpace() {
        Rig r;
        r.ShowAndActivate();
        QString opened;
        OnNextModal([&](QWidget* w) { opened = w->objectName(); });
        QTest::keyClick(r.form->findChild<QWidget*>("MyButton1"), Qt::Key_Return);
        QCOMPARE(opened, QString("SettingForm"));
        QTest::keyClick(r.form->findChild<QWidget*>("MyBt_Records"), Qt::Key_Space);
        QTRY_VERIFY(r.form->findChild<QDialog*>("RecordForm"));
        r.form->Exit();
    }

    void settingsTitleNamesTheBellThatWillNotRingWithinTwoMinutes() {
        Rig r;
        r.AddToday("08:01:30", "上课");
        r.AddToday("08:05:00", "later");
        r.ShowAndActivate();
        QStringList shown;
        bool polled = false;
        OnNextModal([&](QWidget* w) {
            auto* due = w->findChild<QLabel*>("Lab_DueWarning");
            shown << (due->isVisible() ? due->text() : "");
            r.clock.Set(QTime(8, 2, 0)); // past it; the next is three minutes off
            static_cast<SettingForm*>(w)->ShowDueSoon();
            shown << (due->isVisible() ? due->text() : "");
            polled = w->findChild<QTimer*>("Timer_Due")->isActive();
        });
        r.form->OpenSettings();
        QCOMPARE(shown, (QStringList{"08:01:30 上课 将不会播放，请先关闭设置", ""}));
        QVERIFY(polled);
    }

    // The line under the label says what the time or countdown belongs to, the mode, and
    // why it is quiet.
    void labelClickTogglesAndStores() {
        Rig r;
        auto* caption = r.form->findChild<QLabel*>("Lab_Caption");
        r.AddToday("08:16:20", "上课");
        r.ShowAndActivate();
        r.engine.Tick();
        QCOMPARE(caption->text(), QString("下一个：08:16:20 上课"));
        QVERIFY(r.vars.ShowClock);
        QTest::mouseClick(r.form->findChild<QLabel*>("Lab_ShowTime"), Qt::LeftButton);
        QVERIFY(!r.vars.ShowClock);
        r.engine.Tick();
        QCOMPARE(caption->text(), QString("距 08:16:20 上课 还有"));
        QCOMPARE(r.engine.LabelText(), QString("00:16:20"));
        ConfigRow row;
        QVERIFY(r.store.ReadConfig(&row));
        QVERIFY(!row.showClock);
        r.Action("Menu_Mode_Rain")->trigger();
        QCOMPARE(caption->text(), QString("雨天模式 · 距 08:16:20 上课 还有"));
        QVERIFY(r.form->TrayIcon()->toolTip().startsWith("Belvoran（雨天模式）"));
        r.engine.StopSchedule();
        QCOMPARE(caption->text(), QString("雨天模式 · 已暂停按时播放，回到主窗口后继续"));
    }

    void modeMenuStoresTheMode() {
        Rig r;
        QVERIFY(r.Action("Menu_Mode_Normal")->isChecked());
        r.Action("Menu_Mode_Rain")->trigger();
        QVERIFY(r.vars.RainMode);
        QVERIFY(r.Action("Menu_Mode_Rain")->isChecked());
        QVERIFY(!r.Action("Menu_Mode_Normal")->isChecked());
        ConfigRow row;
        QVERIFY(r.store.ReadConfig(&row));
        QVERIFY(row.rainMode);
        r.Action("Menu_Mode_Normal")->trigger();
        QVERIFY(!r.vars.RainMode);
        QVERIFY(r.store.ReadConfig(&row));
        QVERIFY(!row.rainMode);
    }

    void rememberedRainModeMarksTheMenu() {
        Rig r;
        r.store.Raw("UPDATE config SET 记住替代音乐=1, 替代音乐=1");
        QVERIFY(r.form->GetConfigValue());
        QVERIFY(r.Action("Menu_Mode_Rain")->isChecked());
        QVERIFY(!r.Action("Menu_Mode_Normal")->isChecked());
    }

    // The real question: the schedule runs on behind it, and Enter means 取消.
    void exitQuestionDefaultsToCancelAndKeepsTheSchedule() {
        Rig r;
        r.ShowAndActivate();
        bool checked = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<MessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            // The line breaks after the sentence, not inside 确定.
            QCOMPARE(box->findChild<QLabel*>("Label1")->text(),
                     QString("退出后将不再按时播放铃声。\n确定退出吗？"));
            QVERIFY(KeepsScheduleRunning(box));
            auto* cancel = box->findChild<MyButton*>("MyButton2");
            QTRY_VERIFY(cancel->hasFocus());
            QTest::keyClick(cancel, Qt::Key_Return);
            checked = true;
        });
        r.Action("Menu_Exit")->trigger();
        QVERIFY(checked);
        QVERIFY(!r.exited);
    }

    void exitStopsMusicRemovesIconClosesStore() {
        Rig r;
        r.ShowAndActivate();
        r.player.SetFileName("/music/song.mp3", {});
        r.player.Play();
        // "×" asks first: 取消 leaves everything running.
        int asked = 0;
        bool answer = false;
        r.form->ConfirmExit = [&] {
            ++asked;
            return answer;
        };
        QTest::mouseClick(r.form->findChild<QWidget*>("yButton_Close"), Qt::LeftButton);
        r.Action("Menu_Exit")->trigger();
        QCOMPARE(asked, 2);
        QVERIFY(!r.exited);
        QVERIFY(r.player.IsPlaying());
        answer = true;
        QTest::mouseClick(r.form->findChild<QWidget*>("yButton_Close"), Qt::LeftButton);
        QVERIFY(r.exited);
        QVERIFY(!r.player.IsPlaying());
        QVERIFY(!r.form->TrayIcon()->isVisible());
        QVERIFY(!r.store.conn->IsOpen());
        QVERIFY(!r.form->isVisible());
    }

    void startHidden() {
        Rig r(true, true);
        r.form->show();
        QApplication::setActiveWindow(r.form.get());
        QTRY_VERIFY(!r.form->isVisible());
        QVERIFY(r.Action("Menu_Show")->isEnabled());
        QVERIFY(!r.Action("Menu_Hide")->isEnabled());
        QVERIFY(r.form->Engine().Running());
        r.form->ShowWindow();
        QVERIFY(r.form->isVisible());
        QVERIFY(Settle());
        QVERIFY(r.form->isVisible()); // stays shown: only the first activation hides
    }

    void countdownLabelOnTick() {
        Rig r;
        r.vars.ShowClock = false;
        r.AddToday("08:01:05", "bell");
        r.ShowAndActivate();
        r.form->Engine().Tick();
        QCOMPARE(r.form->findChild<QLabel*>("Lab_ShowTime")->text(), QString("00:01:05"));
    }
};

QTEST_MAIN(TestMainForm)
#include "test_main_form.moc"
