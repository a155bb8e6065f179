// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/main/main_form.h"

#include "audio/player.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/reason_text.h"
#include "core/version.h"
#include "schedule/bell_problems.h"
#include "store/config_loader.h"
#include "store/conn.h"
#include "widgets/art.h"
#include "widgets/message_box.h"
#include "widgets/move_form.h"
#include "widgets/my_button.h"
#include "widgets/tray_icon.h"
#include "widgets/ui_font.h"
#include "windows/main/play_now_dialog.h"
#include "windows/main/record_form.h"
#include "windows/main/schedule_windows.h"
#include "windows/settings/setting_form.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDate>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QTimer>

namespace {

const QString kProblemsText = QStringLiteral("今日有 %1 个铃声无法播放");
const QString kNotRungText = QStringLiteral("今日有 %1 个铃声未响（见今日记录）");
const QString kZoneProblemText = QStringLiteral("%1 播放区域故障（见今日记录）");
// While the settings window is open the schedule is stopped: bells due this soon are named.
constexpr int kDueWarningSeconds = 120;

// How often the desktop is asked whether it has a tray: one short question to the display.
constexpr int kTrayCheckMs = 5000;

// The client area: 6300 × 3600 twips.
constexpr int kClientW = 6300, kClientH = 3600;

} // namespace

MainForm::MainForm(ProgramVars& vars, Conn& conn, Player& player, ScheduleEngine& engine,
                   QWidget* parent)
    : QWidget(parent), vars_(vars), conn_(conn), player_(player), engine_(engine) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Belvoran"));
    setWindowIcon(ProgramIcon());
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(Px(kClientW), Px(kClientH));
    TrayProbe = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    trayAvailable_ = TrayProbe();

    BuildMenu();
    BuildControls();
    connect(&engine_, &ScheduleEngine::LabelChanged, Lab_ShowTime, &QLabel::setText);
    connect(&engine_, &ScheduleEngine::CaptionChanged, this, &MainForm::ShowCaption);
    ShowCaption(engine_.CaptionText());

    // The window's load sequence.
    skin_.Preamble(this);
    ImgIcon->setPixmap(programIcon_->pixmap());
    tray_ = AddTrayIcon(this, ProgramIcon(), NotifyMenu_);
    trayTimer_ = new QTimer(this);
    trayTimer_->setObjectName(QStringLiteral("Timer_Tray"));
    trayTimer_->setInterval(kTrayCheckMs);
    connect(trayTimer_, &QTimer::timeout, this, &MainForm::CheckTray);
    trayTimer_->start();
    connect(&player_, &Player::OutputChanged, this, &MainForm::ShowOutputState);
    ShowOutputState(player_.OutputUsable());
    connect(&engine_, &ScheduleEngine::TodayProblemsChanged, this, &MainForm::ShowBellProblems);
    connect(&engine_, &ScheduleEngine::NotRungChanged, this, &MainForm::ShowBellProblems);
    ShowBellProblems();
    connect(&engine_, &ScheduleEngine::ZoneProblem, this, &MainForm::ShowZoneProblem);
    // The menu marks follow the loaded mode.
    Menu_Mode_Rain->setChecked(vars_.RainMode);
    Menu_Mode_Normal->setChecked(!vars_.RainMode);
}

MainForm::~MainForm() {
    engine_.StopSchedule();
}

void MainForm::BuildMenu() {
    NotifyMenu_ = new QMenu(QStringLiteral("托盘菜单"), this);
    NotifyMenu_->setObjectName(QStringLiteral("NotifyMenu"));
    QMenu* mode = NotifyMenu_->addMenu(QStringLiteral("模式选择"));
    mode->setObjectName(QStringLiteral("Menu_Mode"));
    auto* group = new QActionGroup(this);
    group->setExclusive(true);
    Menu_Mode_Normal = mode->addAction(QStringLiteral("正常模式"));
    Menu_Mode_Normal->setObjectName(QStringLiteral("Menu_Mode_Normal"));
    Menu_Mode_Rain = mode->addAction(QStringLiteral("雨天模式"));
    Menu_Mode_Rain->setObjectName(QStringLiteral("Menu_Mode_Rain"));
    for (QAction* a : {Menu_Mode_Normal, Menu_Mode_Rain}) {
        a->setCheckable(true);
        group->addAction(a);
    }
    Menu_Show = NotifyMenu_->addAction(QStringLiteral("显示窗口"));
    Menu_Show->setObjectName(QStringLiteral("Menu_Show"));
    Menu_Hide = NotifyMenu_->addAction(QStringLiteral("隐藏窗口"));
    Menu_Hide->setObjectName(QStringLiteral("Menu_Hide"));
    NotifyMenu_->addSeparator();
    Menu_Stop = NotifyMenu_->addAction(QStringLiteral("停止播放"));
    Menu_Stop->setObjectName(QStringLiteral("Menu_Stop"));
    Menu_PlayNow = NotifyMenu_->addAction(QStringLiteral("立即播放…"));
    Menu_PlayNow->setObjectName(QStringLiteral("Menu_PlayNow"));
    Menu_Records = NotifyMenu_->addAction(QStringLiteral("今日记录"));
    Menu_Records->setObjectName(QStringLiteral("Menu_Records"));
    connect(Menu_Stop, &QAction::triggered, this, &MainForm::StopPlaying);
    connect(Menu_PlayNow, &QAction::triggered, this, &MainForm::PlayEventNow);
    connect(Menu_Records, &QAction::triggered, this, &MainForm::ShowRecords);
    ChoosePlayNow = [this](const QVector<EventRow>& events) {
        QStringList names;
        for (const ZoneRow& z : engine_.Zones()) {
            names << z.name;
        }
        return PlayNowDialog::Choose(events, this, names, &playNowZones_);
    };
    ConfirmExit = [this] {
        MsgBlock msg{QStringLiteral("退出程序"),
                     QStringLiteral("退出后将不再按时播放铃声。确定退出吗？"), MsgMode::Confirm,
                     false};
        MessageBox box(msg, nullptr, this);
        SetKeepsScheduleRunning(&box); // the bells ring on while the question waits
        box.cancelByDefault = true;
        box.exec();
        return msg.MsgResult;
    };
    NotifyMenu_->addSeparator();
    Menu_Exit = NotifyMenu_->addAction(QStringLiteral("退出程序"));
    Menu_Exit->setObjectName(QStringLiteral("Menu_Exit"));

    connect(Menu_Mode_Normal, &QAction::triggered, this, &MainForm::SwitchToNormalMode);
    connect(Menu_Mode_Rain, &QAction::triggered, this, &MainForm::SwitchToRainMode);
    connect(Menu_Show, &QAction::triggered, this, &MainForm::ShowWindow);
    connect(Menu_Hide, &QAction::triggered, this, &MainForm::HideWindow);
    connect(Menu_Exit, &QAction::triggered, this, &MainForm::AskExit);
}

void MainForm::BuildControls() {
    skin_ =
        Skin::Build(this, QRect(0, 0, kClientW, 495), QPoint(900, 165), QRect(5430, 150, 330, 270));
    BuildTitleBar();
    BuildClock();

    settingsButton_ =
        MyButton::Create(this, QStringLiteral("MyButton1"), QRect(2475, 2040, 1350, 1140),
                         QStringLiteral("进入设置"), 2, 6);
    settingsButton_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_S));
    connect(settingsButton_, &MyButton::Click, this, &MainForm::OpenSettings);

    BuildVersionLabel();
    BuildWarnings();

    MyBt_Records = MyButton::Create(this, QStringLiteral("MyBt_Records"),
                                    QRect(4350, 2420, 1200, 390), QStringLiteral("今日记录"), 1);
    MyBt_Records->setToolTip(QStringLiteral("今天（及最近 60 天）每个铃声的播放结果"));
    MyBt_Records->setShortcut(QKeySequence(Qt::ALT | Qt::Key_R));
    connect(MyBt_Records, &MyButton::Click, this, &MainForm::ShowRecords);

    skin_.ImgTitle->lower();
    skin_.background->lower();
    skin_.Img_FormTitle->raise();
    ImgIcon->raise();
    MyButton_Hide->raise();
    skin_.yButton_Close->raise();
    OrderTabs();
}

// The big buttons first, then the title bar's hide and close.
void MainForm::OrderTabs() {
    MyButton_Hide->setFocusPolicy(Qt::TabFocus);
    skin_.CloseInTabOrder(settingsButton_);
    // Made first, close and hide stand before the big buttons: the big ones go after close.
    QWidget::setTabOrder(skin_.yButton_Close, settingsButton_);
    QWidget::setTabOrder(settingsButton_, MyBt_Records);
    skin_.yButton_Close->setAccessibleName(QStringLiteral("退出程序"));
    Lab_ShowTime->setAccessibleName(QStringLiteral("时钟"));
    ImgIcon->setAccessibleName(QStringLiteral("托盘菜单"));
}

// The program icon, the tray-menu icon and the hide button beside the skin's close.
void MainForm::BuildTitleBar() {
    programIcon_ = new QLabel(this);
    programIcon_->setObjectName(QStringLiteral("Picture1"));
    programIcon_->setPixmap(Art(QStringLiteral("belvoran"), QSize(20, 20)));
    programIcon_->hide(); // holds the program icon for the tray and ImgIcon

    ImgIcon = new QLabel(this);
    ImgIcon->setObjectName(QStringLiteral("ImgIcon"));
    ImgIcon->setGeometry(Px(495), Px(150), 20, 20);
    ImgIcon->setToolTip(QStringLiteral("托盘菜单"));
    ImgIcon->setCursor(Qt::PointingHandCursor);
    ImgIcon->installEventFilter(this);

    MyButton_Hide = MyButton::Create(this, QStringLiteral("MyButton_Hide"),
                                     QRect(5070, 150, 330, 270), QStringLiteral("↓"), 1);
    MyButton_Hide->setToolTip(QStringLiteral("最小化至托盘图标"));
    MyButton_Hide->setAccessibleName(QStringLiteral("隐藏窗口"));
    connect(MyButton_Hide, &MyButton::Click, this, &MainForm::HideWindow);
    connect(skin_.yButton_Close, &MyButton::Click, this, &MainForm::AskExit);
}

// The big clock and the caption under it.
void MainForm::BuildClock() {
    Lab_ShowTime = new QLabel(QStringLiteral("00:00:00"), this);
    Lab_ShowTime->setObjectName(QStringLiteral("Lab_ShowTime"));
    Lab_ShowTime->setGeometry(Px(600), Px(720), Px(5100), Px(960));
    Lab_ShowTime->setAlignment(Qt::AlignCenter);
    QFont clockFont(UiFontFamily());
    clockFont.setPixelSize(46);
    clockFont.setBold(true);
    Lab_ShowTime->setFont(clockFont);
    Lab_ShowTime->setStyleSheet(QStringLiteral("color: rgb(45, 58, 140);"));
    Lab_ShowTime->setToolTip(QStringLiteral("单击切换：当前时间 / 距下一事件的倒计时"));
    Lab_ShowTime->setCursor(Qt::PointingHandCursor);
    Lab_ShowTime->installEventFilter(this);
    Lab_Caption = new QLabel(this);
    Lab_Caption->setObjectName(QStringLiteral("Lab_Caption"));
    Lab_Caption->setGeometry(Px(600), Px(1680), Px(5100), Px(300));
    Lab_Caption->setAlignment(Qt::AlignCenter);
    QFont captionFont(UiFontFamily());
    captionFont.setPixelSize(13);
    Lab_Caption->setFont(captionFont);
    Lab_Caption->setStyleSheet(QStringLiteral("color: rgb(70, 80, 130);"));
}

// The version, in the bottom right corner.
void MainForm::BuildVersionLabel() {
    Lab_version = new QLabel(kVersionText, this);
    Lab_version->setObjectName(QStringLiteral("Lab_version"));
    Lab_version->setStyleSheet(QStringLiteral("color: rgb(110, 120, 160);"));
    QFont small(UiFontFamily());
    small.setPixelSize(11);
    Lab_version->setFont(small);
    Lab_version->adjustSize();
    Lab_version->move(Px(kClientW - 480) - Lab_version->width(),
                      Px(kClientH - 150) - Lab_version->height());
}

// Where the administrator looks: no sound device is said here and in the tray tip.
void MainForm::BuildWarnings() {
    Lab_Warning = new QLabel(kNoOutputText, this);
    Lab_Warning->setObjectName(QStringLiteral("Lab_Warning"));
    Lab_Warning->setStyleSheet(QStringLiteral("color: rgb(200, 30, 30);"));
    QFont warningFont(UiFontFamily());
    warningFont.setPixelSize(12);
    warningFont.setBold(true);
    Lab_Warning->setFont(warningFont);
    Lab_Warning->adjustSize();
    Lab_Warning->move(Px(480), Px(kClientH - 150) - Lab_Warning->height());
    Lab_Warning->hide();
    // The other warning lines look as this one does; LayoutWarnings stacks those shown.
    const auto warningLine = [&](const char* name) {
        auto* line = new QLabel(this);
        line->setObjectName(QLatin1String(name));
        line->setStyleSheet(Lab_Warning->styleSheet());
        line->setFont(warningFont);
        line->hide();
        return line;
    };
    Lab_Problems = warningLine("Lab_Problems");
    Lab_Central = warningLine("Lab_Central");
    Lab_ZoneProblem = warningLine("Lab_ZoneProblem");
    Lab_Clock = warningLine("Lab_Clock");
}

bool MainForm::GetConfigValue() {
    if (!::GetConfigValue(vars_, conn_)) {
        return false;
    }
    Menu_Mode_Rain->setChecked(vars_.RainMode);
    Menu_Mode_Normal->setChecked(!vars_.RainMode);
    return true;
}

bool MainForm::SetClassMusicArr() {
    return ::SetClassMusicArr(vars_, conn_);
}

bool MainForm::SetReplaceMusicArr() {
    return ::SetReplaceMusicArr(vars_, conn_);
}

void MainForm::SwitchToNormalMode() {
    Menu_Mode_Normal->setChecked(true);
    Menu_Mode_Rain->setChecked(false);
    engine_.SetRainMode(false);
}

void MainForm::SwitchToRainMode() {
    Menu_Mode_Normal->setChecked(false);
    Menu_Mode_Rain->setChecked(true);
    engine_.SetRainMode(true);
}

void MainForm::ShowMenuStates(bool visible) {
    Menu_Show->setEnabled(!visible);
    Menu_Hide->setEnabled(visible);
}

void MainForm::ShowWindow() {
    ShowMenuStates(true);
    showNormal();
    raise();
    activateWindow();
    // Shown again: today's remaining events are read afresh from now.
    engine_.LoadTodayEvents();
}

void MainForm::HideWindow() {
    if (trayAvailable_) {
        hide();
    } else {
        // Without a tray a hidden window could never be got back.
        showMinimized();
    }
    ShowMenuStates(false);
}

void MainForm::CheckTray() {
    const bool now = TrayProbe();
    if (now == trayAvailable_ || exiting_) {
        return;
    }
    trayAvailable_ = now;
    if (now) {
        // Shown afresh, the icon docks in the tray that has just come.
        tray_->hide();
        tray_->show();
        PlayLog(QStringLiteral("a system tray is there now: hiding goes to its icon"));
        return;
    }
    PlayLog(QStringLiteral("the system tray has gone: hiding minimises the window"));
    if (isHidden()) {
        showMinimized();
    }
}

void MainForm::StopPlaying() {
    engine_.StopPlaying();
}

void MainForm::PlayEventNow() {
    QVector<EventRow> events;
    QString error;
    if (!engine_.TodayTimetable(&events, &error)) {
        ShowMessage(this, QStringLiteral("立即播放"),
                    QStringLiteral("无法读取今天的播放事件：%1").arg(error), MsgMode::Notice);
        return;
    }
    playNowZones_ = QString(); // the event's own, unless the dialog says otherwise
    const qint64 id = ChoosePlayNow(events);
    if (id != 0 && !engine_.PlayNow(id, &error, playNowZones_)) {
        ShowMessage(this, QStringLiteral("立即播放"), error, MsgMode::Notice);
    }
}

void MainForm::AskExit() {
    if (exiting_ || (ConfirmExit && !ConfirmExit())) {
        return;
    }
    Exit();
}

void MainForm::Exit() {
    if (exiting_) {
        return;
    }
    exiting_ = true;
    PlayLog(QStringLiteral("Belvoran ends"));
    if (records_) {
        records_->close(); // it reads the store, which closes below
    }
    engine_.StopSchedule();
    player_.Halt();
    RemoveTrayIcon(tray_);
    hide();
    conn_.Close();
    if (onExit) {
        onExit();
    } else {
        QApplication::quit();
    }
}

void MainForm::OpenSettings() {
    player_.Halt();
    engine_.StopSchedule(QStringLiteral("the settings window was open"));
    {
        SettingForm settings(vars_, conn_, player_, settings_, this);
        settings.SetDueSoon([this] {
            QVector<EventRow> due;
            return engine_.DueWithin(kDueWarningSeconds, &due) ? due : QVector<EventRow>();
        });
        openSettings_ = &settings;
        settings.exec();
        openSettings_ = nullptr;
    }
    // Back from the settings: read today's events afresh, as the activation does.
    if (isVisible() && !engine_.Running()) {
        Activated();
    }
}

bool MainForm::event(QEvent* e) {
    switch (e->type()) {
    case QEvent::WindowActivate:
        Activated();
        break;
    case QEvent::WindowDeactivate:
        // Which window took over is known only once the change is complete.
        QTimer::singleShot(0, this, &MainForm::CheckDeactivated);
        break;
    default:
        break;
    }
    return QWidget::event(e);
}

void MainForm::Activated() {
    if (exiting_) {
        return;
    }
    // Every activation reads today's remaining events afresh: changes made meanwhile, in
    // the settings or to the database directly, take effect from now.
    engine_.LoadTodayEvents();
    if (firstActivation_) {
        firstActivation_ = false;
        if (vars_.MinToTray) {
            HideWindow();
            return;
        }
    }
    // An activation can arrive after the window was hidden: the menu follows what is
    // really on screen, or "显示窗口" would be greyed with no window to be seen.
    ShowMenuStates(isVisible() && !isMinimized());
}

void MainForm::CheckDeactivated() {
    QWidget* now = QApplication::activeWindow();
    // Another window of this program in front stops the schedule; another application,
    // a pop-up menu, the shutdown countdown or a hidden main window does not.
    if (now && now != this && !qobject_cast<QMenu*>(now) && !KeepsScheduleRunning(now) &&
        isVisible()) {
        engine_.StopSchedule(
            QStringLiteral("the window \"%1\" was in front").arg(now->windowTitle()));
    }
}

void MainForm::changeEvent(QEvent* e) {
    if (e->type() == QEvent::WindowStateChange && !firstActivation_) {
        ShowMenuStates(isVisible() && !isMinimized());
    }
    QWidget::changeEvent(e);
}

void MainForm::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    skin_.StretchBackground(this);
}

bool MainForm::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::MouseButtonPress) {
        if (watched == Lab_ShowTime) {
            engine_.ToggleShowClock(); // the label follows at the next tick
            return true;
        }
        if (watched == ImgIcon) {
            NotifyMenu_->popup(QCursor::pos());
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}

void MainForm::contextMenuEvent(QContextMenuEvent* e) {
    // The menu key opens the tray menu, under its icon, as a click on the icon does.
    if (e->reason() == QContextMenuEvent::Keyboard) {
        NotifyMenu_->popup(ImgIcon->mapToGlobal(QPoint(0, ImgIcon->height())));
        e->accept();
        return;
    }
    QWidget::contextMenuEvent(e);
}

void MainForm::closeEvent(QCloseEvent* e) {
    // A window manager's close (Alt+F4) asks as "×" does; the session's end does not.
    if (exiting_ || qApp->isSavingSession()) {
        e->accept();
        Exit();
        return;
    }
    e->ignore();
    AskExit();
}

void MainForm::ShowOutputState(bool usable) {
    outputUsable_ = usable;
    Lab_Warning->setVisible(!usable);
    LayoutWarnings();
    ShowTrayTip();
}

namespace {

constexpr char kFullText[] = "fullText";   // a warning line's text as set
constexpr char kTipIsText[] = "tipIsText"; // its tip is that text (the line was cut short)

void SetWarningText(QLabel* line, const QString& text) {
    line->setProperty(kFullText, text);
    line->setText(text);
}

} // namespace

void MainForm::ShowBellProblems() {
    // Bells still to come that cannot be played, then those of today that did not sound.
    const QVector<ScheduleEngine::FileProblem>& ahead = engine_.TodayProblems();
    const QVector<PlayRecordRow>& lost = engine_.NotRungToday();
    problemCount_ = ahead.size() + lost.size();
    const QStringList lines = BellProblemLines(engine_);
    QStringList parts;
    if (!ahead.isEmpty()) {
        parts << kProblemsText.arg(ahead.size());
    }
    if (!lost.isEmpty()) {
        parts << kNotRungText.arg(lost.size());
    }
    SetWarningText(Lab_Problems, parts.join(QStringLiteral("；")));
    Lab_Problems->setToolTip(lines.join(QLatin1Char('\n')));
    Lab_Problems->adjustSize();
    Lab_Problems->setVisible(problemCount_ > 0);
    LayoutWarnings();
    ShowTrayTip();
}

void MainForm::FollowCentral(const QString& site) {
    settings_.managedSite = site;
}

void MainForm::ShowNewCopy() {
    if (exiting_) {
        return; // the store is closed
    }
    if (openSettings_) {
        openSettings_->ReloadPage(); // the page on screen shows the new copy
    }
}

void MainForm::ShowCaption(const QString& text) {
    // A long event name is cut, the whole line in its tip.
    const QString shown =
        Lab_Caption->fontMetrics().elidedText(text, Qt::ElideMiddle, Lab_Caption->width());
    Lab_Caption->setText(shown);
    Lab_Caption->setToolTip(shown != text ? text : QString());
    ShowTrayTip();
}

void MainForm::ShowWarningLine(QLabel* line, const QString& text) {
    SetWarningText(line, text);
    line->adjustSize();
    line->setVisible(!text.isEmpty());
    LayoutWarnings();
    ShowTrayTip();
}

void MainForm::ShowClockState(const QString& text) {
    ShowWarningLine(Lab_Clock, text);
}

void MainForm::ShowCentralState(const QString& text) {
    ShowWarningLine(Lab_Central, text);
}

void MainForm::ShowZoneProblem(const QString& text) {
    // The sound went on where it could: the line says when a zone failed, its tip what.
    SetWarningText(Lab_ZoneProblem,
                   kZoneProblemText.arg(QTime::currentTime().toString(QStringLiteral("HH:mm"))));
    Lab_ZoneProblem->setToolTip(ReasonForPeople(text));
    Lab_ZoneProblem->adjustSize();
    Lab_ZoneProblem->show();
    LayoutWarnings();
}

void MainForm::LayoutWarnings() {
    // Stacked upwards from the bottom line. A line too long for the window is cut short, its
    // whole text in its tip; one reaching the version's place takes it.
    const int left = Px(480);
    const int widest = Px(kClientW - 480) - left; // inside the rounded outline
    const int base = Px(kClientH - 150);
    int bottom = base;
    bool versionClear = true;
    for (QLabel* line : {Lab_ZoneProblem, Lab_Problems, Lab_Warning, Lab_Central, Lab_Clock}) {
        if (line->isHidden()) {
            continue;
        }
        if (const QString full = line->property(kFullText).toString(); !full.isEmpty()) {
            const QString shown = line->fontMetrics().elidedText(full, Qt::ElideRight, widest);
            line->setText(shown);
            if (shown != full || line->property(kTipIsText).toBool()) {
                line->setToolTip(shown != full ? full : QString());
                line->setProperty(kTipIsText, shown != full);
            }
        }
        line->adjustSize();
        line->move(left, bottom - line->height());
        if (bottom == base && line->geometry().right() >= Lab_version->x() - Px(60)) {
            versionClear = false;
        }
        bottom -= line->height();
    }
    Lab_version->setVisible(versionClear);
}

void MainForm::ShowTrayTip() {
    if (!tray_) {
        return;
    }
    QString tip = QStringLiteral("Belvoran");
    if (vars_.RainMode) {
        tip += QStringLiteral("（雨天模式）");
    }
    if (!outputUsable_) {
        tip += QLatin1Char('\n') + kNoOutputText;
    }
    // The lines' whole texts: the window may have cut them short.
    for (const QLabel* line : {Lab_Problems, Lab_Central, Lab_Clock}) {
        if (const QString text = line->property(kFullText).toString();
            !line->isHidden() && !text.isEmpty()) {
            tip += QLatin1Char('\n') + text;
        }
    }
    tray_->setToolTip(tip);
}

void MainForm::ShowRecords() {
    if (!records_) {
        records_ = new RecordForm(conn_, QDate::currentDate(), this);
        records_->setAttribute(Qt::WA_DeleteOnClose);
    }
    records_->show();
    records_->raise();
    records_->activateWindow();
}

void MainForm::RecordsChanged() {
    if (records_) {
        records_->Reload();
    }
}
