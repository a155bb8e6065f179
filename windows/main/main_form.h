// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>

#include "schedule/schedule_engine.h"
#include "widgets/skin.h"
#include "windows/settings/settings_state.h"

class QTimer;
class SettingForm;
class Conn;
class MyButton;
class Player;
class RecordForm;
struct ProgramVars;

// The program's main window: the clock or countdown, the settings button, the tray icon
// with its menu. It shows the schedule engine's label and drives it: the schedule runs
// while this window is the program's active window or hidden in the tray, and stops while
// another window of the program (the settings window, a message box) is in front.
class MainForm : public QWidget {
    Q_OBJECT
public:
    MainForm(ProgramVars& vars, Conn& conn, Player& player, ScheduleEngine& engine,
             QWidget* parent = nullptr);
    ~MainForm() override;

    // Reload the program-wide settings from the store (the settings window calls the
    // last two after changing the lists).
    bool GetConfigValue();
    bool SetClassMusicArr();
    bool SetReplaceMusicArr();

    // The tray menu's actions.
    void SwitchToNormalMode();
    void SwitchToRainMode();
    void ShowWindow();
    void HideWindow();
    // "停止播放": whatever plays stops, break music too; the schedule goes on.
    void StopPlaying();
    // "立即播放…": today's events in a small dialog; the chosen one plays now.
    void PlayEventNow();
    // Asks which of today's events to play now: the id, or 0 for none. Tests replace it.
    std::function<qint64(const QVector<EventRow>& events)> ChoosePlayNow;
    // "今日记录" (the tray menu and the button): today's records in a window of their own,
    // brought to the front if it is open already.
    void ShowRecords();
    // A record has been written: an open records window reads its day again.
    void RecordsChanged();
    // Today's bells still to come that cannot be played ("今日有 N 个铃声无法播放") and those
    // that did not sound ("今日有 M 个铃声未响"): one line here and in the tray tip, each
    // bell in the line's tip; nothing when all is well.
    void ShowBellProblems();
    // This computer follows a central site: its timetable pages are read-only.
    void FollowCentral(const QString& site);
    // A changed copy of the site arrived (the program has read it again): the settings page
    // on screen shows it.
    void ShowNewCopy();
    // The central timetable's state while following: "中心时间表不可达，使用 HH:MM 的本地副本"
    // here and in the tray tip, or nothing when text is empty.
    void ShowCentralState(const QString& text);
    // This computer's clock is not synchronised ("" when it is).
    void ShowClockState(const QString& text);
    // "退出程序" and "×": asks first (the bells stop for good), then Exit.
    void AskExit();
    // Whether to end the program; by default a question whose focus is on 取消, behind
    // which the schedule keeps running. Tests replace it.
    std::function<bool()> ConfirmExit;
    // Music stops, the tray icon goes, the store is closed. The daily shutdown and the end
    // of the session come here without a question.
    void Exit();
    // "进入设置": halts the player, stops the schedule, opens the settings modally.
    void OpenSettings();

    // Whether hiding goes to the tray; without a tray the window minimises instead.
    void SetTrayAvailable(bool on) { trayAvailable_ = on; }
    bool TrayAvailable() const { return trayAvailable_; }
    // Whether the desktop has a tray now; by default asked of the desktop. Tests replace it.
    std::function<bool()> TrayProbe;
    // Asks TrayProbe again, as a timer does every few seconds: a tray that comes after the
    // program (its host started later at login) gets the icon, and hiding goes there; a
    // tray that goes away takes hiding back to minimising, and a window hidden in it is
    // shown minimised, so it can still be reached.
    void CheckTray();
    // What Exit does last; by default it quits the application.
    std::function<void()> onExit;

    ScheduleEngine& Engine() { return engine_; }
    QSystemTrayIcon* TrayIcon() const { return tray_; }
    QMenu* NotifyMenu() const { return NotifyMenu_; }
    // What the settings window remembers between its openings during this run.
    SettingsState& Settings() { return settings_; }

protected:
    bool event(QEvent* e) override;
    void changeEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void BuildControls();
    void BuildTitleBar();
    void BuildClock();
    void BuildVersionLabel();
    void BuildWarnings();
    void BuildMenu();
    void OrderTabs();
    void Activated();
    void CheckDeactivated();
    void ShowMenuStates(bool visible);
    // Shows whether sound can be heard: the warning line and the tray tip.
    void ShowOutputState(bool usable);
    // The warning lines from the bottom up, the longer one on the bottom line, where it
    // passes under the settings button.
    void LayoutWarnings();
    // Shows line with text, or hides it when text is empty, and restacks the lines.
    void ShowWarningLine(QLabel* line, const QString& text);
    void ShowTrayTip();
    // A zone's output or switch failed: a line that says when, its tip says what.
    void ShowZoneProblem(const QString& text);
    void ShowCaption(const QString& text);

    ProgramVars& vars_;
    Conn& conn_;
    Player& player_;
    ScheduleEngine& engine_;
    Skin skin_;
    SettingsState settings_;

    QLabel* Lab_ShowTime = nullptr;
    QLabel* Lab_Caption = nullptr; // what the label shows the time or countdown of
    QLabel* programIcon_ = nullptr;
    QLabel* ImgIcon = nullptr;
    QLabel* Lab_version = nullptr;
    QLabel* Lab_Warning = nullptr;     // "无法输出声音" while no sound device can be opened
    QLabel* Lab_Problems = nullptr;    // "今日有 N 个铃声无法播放"
    QLabel* Lab_Central = nullptr;     // the central timetable cannot be reached
    QLabel* Lab_Clock = nullptr;       // this computer's clock is not synchronised
    QLabel* Lab_ZoneProblem = nullptr; // "hh:mm 播放区域故障（见今日记录）"
    SettingForm* openSettings_ = nullptr; // while the settings window is open
    MyButton* MyBt_Records = nullptr;
    MyButton* settingsButton_ = nullptr;
    MyButton* MyButton_Hide = nullptr;
    QMenu* NotifyMenu_ = nullptr;
    QAction* Menu_Mode_Normal = nullptr;
    QAction* Menu_Mode_Rain = nullptr;
    QAction* Menu_Show = nullptr;
    QAction* Menu_Hide = nullptr;
    QAction* Menu_Stop = nullptr;
    QAction* Menu_PlayNow = nullptr;
    QAction* Menu_Records = nullptr;
    QAction* Menu_Exit = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QTimer* trayTimer_ = nullptr;
    QPointer<RecordForm> records_;

    bool trayAvailable_ = false;
    bool firstActivation_ = true;
    bool exiting_ = false;
    bool outputUsable_ = true;
    int problemCount_ = 0;
    QString playNowZones_; // ticked in the play-now dialog; null: the event's own
};
