// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/editor/modify_event.h"

#include "audio/player.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/reason_text.h"
#include "core/time_text.h"
#include "schedule/break_music.h"
#include "schedule/zones.h"
#include "widgets/art.h"
#include "widgets/file_chooser.h"
#include "widgets/message_box.h"
#include "widgets/my_button.h"
#include "widgets/skin.h"
#include "widgets/text_time_box.h"
#include "widgets/ui_font.h"
#include "windows/editor/store_file_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// The client area: 7200 × 5520 twips. The window region trims 27 pixels off each side, so
// the controls keep a margin of 480 twips.
constexpr int kClientW = 7200, kClientH = 5520;
const QString kAllZones = QStringLiteral("111111");
const QString kTitle = QStringLiteral("温馨提示");

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& twips, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(Px(twips));
    return l;
}

} // namespace

qint64 ModifyEvent::Edit(ProgramVars& vars, Conn& conn, Player& player, const QString& weekName,
                         qint64 id, QWidget* parent) {
    ModifyEvent dialog(vars, conn, player, weekName, id, parent);
    if (!dialog.Load()) {
        dialog.Notify(dialog.LoadError());
        return 0;
    }
    // Centred by hand each time: left to the platform, the first opening of a settings
    // session landed in the corner of the screen.
    CenterOn(&dialog, parent);
    dialog.exec();
    return dialog.SavedId();
}

ModifyEvent::ModifyEvent(ProgramVars& vars, Conn& conn, Player& player, const QString& weekName,
                         qint64 id, QWidget* parent)
    : QDialog(parent), vars_(vars), conn_(conn), player_(player), weekName_(weekName), id_(id) {
    setObjectName(QStringLiteral("ModifyEvent"));
    setWindowTitle(IsAddMode() ? kAddCaption : kModifyCaption);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    setFixedSize(Px(kClientW), Px(kClientH));
    QFont f(UiFontFamily());
    f.setPointSize(9);
    setFont(f);

    ChooseMusic = [this] {
        return ChooseOpenFile(this, QStringLiteral("选择播放曲目"), MusicFileFilter(), conn_);
    };
    Notify = [this](const QString& text) {
        ShowMessage(isVisible() ? this : parentWidget(), kTitle, text, MsgMode::Notice);
    };

    BuildControls();
    connect(&watcher_, &QFutureWatcher<double>::finished, this, &ModifyEvent::MeasureDone);
    connect(&player_, &Player::Error, this, &ModifyEvent::OnPlayerError);
    connect(&player_, &Player::Halted, this, [this] { listening_ = false; });
}

ModifyEvent::~ModifyEvent() {
    // Released before the box it watches, which would otherwise die under its filter.
    delete StartTimeBox;
    if (listening_ && !closed_) {
        player_.Halt();
    }
    // A length still being read uses the player: let it finish before the dialog goes.
    watcher_.waitForFinished();
    if (measuredFile_.size()) {
        QApplication::restoreOverrideCursor();
    }
}

void ModifyEvent::BuildControls() {
    skin_ = Skin::Build(this, QRect(0, 0, kClientW, 495), QPoint(600, 240),
                        QRect(kClientW - 780, 195, 300, 255));
    connect(skin_.yButton_Close, &MyButton::Click, this, &QDialog::reject);

    BuildNameRow();
    BuildStartRow();
    BuildDetailsFrame();
    BuildZonesFrame();
    // Made last, so they come last in the tab order.
    okButton_ = MyButton::Create(this, QStringLiteral("MyButton1"), QRect(4140, 4890, 1200, 420),
                                 QStringLiteral("确定"), 2);
    cancelButton_ = MyButton::Create(this, QStringLiteral("MyButton2"),
                                     QRect(5520, 4890, 1200, 420), QStringLiteral("取消"), 1);

    ConnectButtons();
    ConnectZoneList();
    skin_.yButton_Close->setAccessibleName(QStringLiteral("关闭"));
}

// The event name: free text, or a break-music library chosen from the list.
void ModifyEvent::BuildNameRow() {
    Lab_Event = MakeLabel(this, "Lab_Event", QRect(600, 780, 960, 255), QStringLiteral("事件名称"));
    Combo_EventName = new QComboBox(this);
    Combo_EventName->setObjectName(QStringLiteral("Combo_EventName"));
    Combo_EventName->setGeometry(Px(QRect(1560, 720, 3600, 345)));
    Combo_EventName->setEditable(true);
    Combo_EventName->setInsertPolicy(QComboBox::NoInsert);
    Combo_EventName->setCompleter(nullptr); // typed text stays what was typed
    Combo_EventName->setAccessibleName(QStringLiteral("事件名称"));
    // A prompt, not text: typing replaces it.
    Combo_EventName->lineEdit()->setPlaceholderText(kNamePrompt);
    connect(Combo_EventName->lineEdit(), &QLineEdit::textChanged, this,
            [this] { nameTouched_ = true; });
    Combo_EventName->installEventFilter(this);
    Combo_EventName->lineEdit()->installEventFilter(this);
    connect(Combo_EventName, &QComboBox::currentIndexChanged, this, &ModifyEvent::EnableMusicFor);
}

void ModifyEvent::BuildStartRow() {
    const QString startCaption = QStringLiteral("开始时间"); // caption
    Lab_StartTime = MakeLabel(this, "Lab_StartTime", QRect(600, 1230, 960, 255), startCaption);
    Text_Time = new QLineEdit(this);
    Text_Time->setObjectName(QStringLiteral("Text_Time"));
    Text_Time->move(Px(1560), Px(1200));
    Text_Time->setText(kZeroLength);
    Text_Time->setAccessibleName(startCaption);

    playCheck_ = new QCheckBox(QStringLiteral("是否播放"), this); // caption
    playCheck_->setObjectName(QStringLiteral("Check1"));
    playCheck_->move(Px(2880), Px(1185));
    playCheck_->setChecked(true);
    playCheck_->adjustSize();
}

// The music file, its length, try-listen and the rain-day replacement.
void ModifyEvent::BuildDetailsFrame() {
    detailsFrame_ = new QGroupBox(QStringLiteral("详细设置"), this);
    detailsFrame_->setObjectName(QStringLiteral("Frame1"));
    detailsFrame_->setGeometry(Px(QRect(480, 1650, 6240, 3060)));
    pathCaption_ =
        MakeLabel(detailsFrame_, "Label2", QRect(180, 390, 900, 255), QStringLiteral("歌曲路径"));
    Lab_path = MakeLabel(detailsFrame_, "Lab_path", QRect(1080, 360, 3600, 315), QString());
    Lab_path->setFrameShape(QFrame::StyledPanel);
    lengthCaption_ =
        MakeLabel(detailsFrame_, "Label3", QRect(180, 810, 900, 255), QStringLiteral("歌曲总长"));
    Lab_length = MakeLabel(detailsFrame_, "Lab_length", QRect(1080, 780, 1200, 315), kZeroLength);
    Lab_length->setFrameShape(QFrame::StyledPanel);
    MyBt_AddSound = MyButton::Create(detailsFrame_, QStringLiteral("MyBt_AddSound"),
                                     QRect(4860, 330, 960, 375), QStringLiteral("添加"), 2);
    MyBt_AddSound->setAccessibleName(QStringLiteral("添加歌曲"));
    MyBt_trylisten = MyButton::Create(detailsFrame_, QStringLiteral("MyBt_trylisten"),
                                      QRect(4860, 750, 960, 375), kListen, 2);
    rainCheck_ = new QCheckBox(QStringLiteral("有雨天音乐"), detailsFrame_);
    rainCheck_->setObjectName(QStringLiteral("Check2"));
    rainCheck_->move(Px(180), Px(1230));
    rainCheck_->adjustSize();
    rainCombo_ = new QComboBox(detailsFrame_);
    rainCombo_->setObjectName(QStringLiteral("Combo1"));
    rainCombo_->setGeometry(Px(QRect(1800, 1200, 3000, 345)));
    rainCombo_->setAccessibleName(QStringLiteral("雨天音乐"));
}

// Over the details frame, not in it: a break-music library greys the frame out, and its
// music plays on zones too.
void ModifyEvent::BuildZonesFrame() {
    zonesFrame_ = new QGroupBox(QStringLiteral("播放区域"), this); // caption
    zonesFrame_->setObjectName(QStringLiteral("Frame2"));
    zonesFrame_->setGeometry(Px(QRect(480 + 180, 1650 + 1740, 5640, 1140)));
    Lab_Partition = MakeLabel(zonesFrame_, "Lab_Partition", QRect(150, 480, 4920, 315), QString());
    Lab_Partition->setMouseTracking(true);
    Lab_Partition->installEventFilter(this);
    zonesButton_ = MyButton::Create(zonesFrame_, QStringLiteral("MyButton3"),
                                    QRect(5100, 450, 360, 375), QString(), 2);
    zonesButton_->setToolTip(QStringLiteral("选择播放区域"));
    zonesButton_->setAccessibleName(QStringLiteral("选择播放区域"));

    zoneList_ = new QListWidget(this);
    zoneList_->setObjectName(QStringLiteral("List1"));
    zoneList_->setGeometry(Px(QRect(3720, 2130, 2400, 1710)));
    zoneList_->setAccessibleName(QStringLiteral("播放区域")); // caption
    zoneList_->installEventFilter(this);
    zoneList_->hide();
    skin_.background->setMouseTracking(true);
    skin_.background->installEventFilter(this);
}

void ModifyEvent::ConnectButtons() {
    connect(MyBt_AddSound, &MyButton::Click, this, &ModifyEvent::ChooseMusicFile);
    connect(MyBt_trylisten, &MyButton::Click, this, &ModifyEvent::ToggleListening);
    connect(zonesButton_, &MyButton::Click, this, &ModifyEvent::ShowZoneList);
    connect(okButton_, &MyButton::Click, this, &ModifyEvent::SaveEvent);
    connect(cancelButton_, &MyButton::Click, this, &ModifyEvent::CancelEdit);
    // Escape on a focused button reaches the dialog, which cancels as from any control.
}

void ModifyEvent::ConnectZoneList() {
    connect(zoneList_, &QListWidget::itemChanged, this, [this] { RebuildZoneLabel(); });
    // A click on a zone's name ticks it too, not only one on its small box.
    zoneList_->viewport()->installEventFilter(this);
    connect(zoneList_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        if (item == zonePressed_ && item->checkState() == zonePressedState_) {
            item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        }
        zonePressed_ = nullptr;
    });
}

bool ModifyEvent::Load() {
    skin_.Preamble(this);
    skin_.CloseInTabOrder(Combo_EventName);
    if (!IsAddMode() && !conn_.EventById(id_, &row_, &loadError_)) {
        loadError_ = QStringLiteral("无法修改该播放事件：%1").arg(loadError_);
        return false;
    }
    const EventRow* row = IsAddMode() ? nullptr : &row_;

    StartTimeBox = new Text_TimeBox(this);
    StartTimeBox->Attach(Text_Time);
    LoadZoneNames();
    LoadZones(row ? row->zones : kAllZones);

    if (row) {
        playCheck_->setChecked(!row->playFlag.isEmpty());
        Text_Time->setText(row->startTime);
        if (row->musicFile != kBreakMusicFile) {
            ShowPath(row->musicFile);
            Lab_length->setText(row->musicLength);
        }
        rainCheck_->setChecked(!row->replace.isEmpty());
    }
    LoadName(row);
    LoadReplacements(row);
    ColourPanels();
    return true;
}

void ModifyEvent::LoadName(const EventRow* row) {
    Combo_EventName->blockSignals(true);
    Combo_EventName->clear();
    const bool library = row && row->musicFile == kBreakMusicFile;
    Combo_EventName->addItem(row && !library ? row->event : QString());
    Combo_EventName->setCurrentIndex(0);
    Combo_EventName->blockSignals(false);
    EnableMusicFor(0);
    Combo_EventName->addItems(vars_.ClassMusicArr);
    nameTouched_ = false;
    // Only a library event selects its library: an ordinary event that happens to carry a
    // library's name stays an ordinary event with its own music.
    if (library) {
        const int i = vars_.ClassMusicArr.indexOf(row->event);
        if (i >= 0) {
            Combo_EventName->setCurrentIndex(i + 1);
        }
    }
}

void ModifyEvent::LoadReplacements(const EventRow* row) {
    rainCombo_->clear();
    for (const ReplaceEntry& r : vars_.ReplaceMusicArr) {
        rainCombo_->addItem(r.name);
    }
    if (row) {
        const int i = rainCombo_->findText(row->replace, Qt::MatchExactly);
        if (i >= 0) {
            rainCombo_->setCurrentIndex(i);
        }
    }
    const bool any = rainCombo_->count() > 0;
    if (any && rainCombo_->currentIndex() < 0) {
        rainCombo_->setCurrentIndex(0);
    }
    rainCombo_->setEnabled(any);
    rainCheck_->setEnabled(any);
}

void ModifyEvent::LoadZoneNames() {
    // The zones as the zones page named them; the defaults when they cannot be read.
    QVector<ZoneRow> zones;
    zoneNames_ = DefaultZoneNames();
    if (conn_.Zones(&zones)) {
        for (int i = 0; i < kZoneCount && i < zones.size(); ++i) {
            if (!zones[i].name.trimmed().isEmpty()) {
                zoneNames_[i] = zones[i].name;
            }
        }
    }
}

void ModifyEvent::LoadZones(const QString& stored) {
    const QString code = PlayedZoneCode(stored);
    zoneList_->blockSignals(true);
    zoneList_->clear();
    for (int i = 0; i < kZoneCount; ++i) {
        auto* item = new QListWidgetItem(zoneNames_[i], zoneList_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        // The list starts as the label says, so opening and closing it changes nothing.
        item->setCheckState(code[i] == QLatin1Char('1') ? Qt::Checked : Qt::Unchecked);
    }
    zoneList_->blockSignals(false);
    zoneCode_ = code;
    ShowZoneNames();
}

void ModifyEvent::ColourPanels() {
    const QColor back = QColor::fromRgb(vars_.FrameBackColor);
    for (QWidget* w :
         std::initializer_list<QWidget*>{detailsFrame_, zonesFrame_, playCheck_, rainCheck_,
                                         Lab_path, Lab_length, Lab_Partition}) {
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, back);
        w->setPalette(pal);
        w->setAutoFillBackground(true);
    }
    FlatFrames(this, back);
}

void ModifyEvent::ShowZoneNames() {
    const QString names = ZoneNamesText(zoneCode_, zoneNames_);
    Lab_Partition->setText(names);
    Lab_Partition->setToolTip(names); // long names may run past the label
}

void ModifyEvent::RebuildZoneLabel() {
    QString code;
    for (int i = 0; i < zoneList_->count(); ++i) {
        code +=
            zoneList_->item(i)->checkState() == Qt::Checked ? QLatin1Char('1') : QLatin1Char('0');
    }
    zoneCode_ = code;
    ShowZoneNames();
}

// --- the name box

void ModifyEvent::EnableMusicFor(int index) {
    // A library (index 1 and up) has no music of its own, and its name cannot be edited.
    if (index > 0 && listening_) {
        // The stop button is about to be disabled with the frame: stop the music now.
        ToggleListening();
    }
    detailsFrame_->setEnabled(index <= 0);
    for (MyButton* b : {MyBt_AddSound, MyBt_trylisten}) {
        b->ChangeEnabledColor(); // the caption greys with the frame
    }
    Combo_EventName->lineEdit()->setReadOnly(index > 0);
}

void ModifyEvent::RequireEventName() {
    // A box still showing its prompt is left to be filled later: 确定 asks for it then.
    if (closed_ || checkingName_ || !nameTouched_ ||
        !Combo_EventName->currentText().trimmed().isEmpty()) {
        return;
    }
    checkingName_ = true;
    Notify(QStringLiteral("请输入或选择一个事件名称！"));
    checkingName_ = false;
    if (!closed_) {
        Combo_EventName->setFocus(Qt::OtherFocusReason);
    }
}

// --- music

void ModifyEvent::ChooseMusicFile() {
    if (Measuring()) {
        return;
    }
    player_.Halt();
    listening_ = false;
    MyBt_trylisten->SetBtCaption(kListen);
    const QString file = ChooseMusic ? ChooseMusic() : QString();
    if (file.isEmpty() || closed_) {
        return;
    }
    // A long MIDI file or a slow disk can take seconds: read the length off the window's
    // thread, with a busy cursor, so the dialog keeps painting and answering. MeasureDuration
    // works on the file alone (its own discoverer, none of the player's playback state), so
    // it may run beside the window's thread.
    measuredFile_ = file;
    SetMeasuring(true);
    Player* player = &player_;
    watcher_.setFuture(QtConcurrent::run([player, file] { return player->MeasureDuration(file); }));
}

void ModifyEvent::SetMeasuring(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
    for (MyButton* b : {MyBt_AddSound, MyBt_trylisten, okButton_}) {
        b->SetEnabled(!on);
    }
}

void ModifyEvent::MeasureDone() {
    const QString file = std::exchange(measuredFile_, QString());
    SetMeasuring(false);
    if (closed_) {
        return;
    }
    const double seconds = watcher_.result();
    if (seconds < 0) {
        // Say what is wrong with this file: the sound card is rarely the cause.
        const QString why = player_.WhyUnplayable(file);
        PlayLog(QStringLiteral("error editor: cannot read the length of %1 %2").arg(file, why));
        Notify(QStringLiteral("无法使用文件“%1”：%2")
                   .arg(file, why.isEmpty()
                                  ? QStringLiteral("无法读取它的长度，它可能已损坏或不是声音文件")
                                  : ReasonForPeople(why)));
        return;
    }
    Lab_length->setText(LengthToTime(seconds));
    ShowPath(file);
}

void ModifyEvent::ShowPath(const QString& file) {
    Lab_path->setText(file);
    Lab_path->setToolTip(file);
    // A path too long for the label shows its end, so the file name stays in sight.
    const bool fits = Lab_path->fontMetrics().horizontalAdvance(file) <=
                      Lab_path->contentsRect().width() - 2 * Lab_path->margin();
    Lab_path->setAlignment((fits ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
}

void ModifyEvent::ToggleListening() {
    const QString file = Lab_path->text();
    if (file.isEmpty() || Measuring()) {
        return;
    }
    if (MyBt_trylisten->BtCaption() != kListen) {
        player_.Halt();
        listening_ = false;
        MyBt_trylisten->SetBtCaption(kListen);
        return;
    }
    const QFileInfo info(file);
    if (!info.isFile() || !info.isReadable()) {
        Notify(QStringLiteral("无法试听：文件“%1”不存在或无法读取。").arg(file));
        return;
    }
    player_.SetFileName(file, AudioRoute()); // tried on the default output
    player_.Play();
    listening_ = true;
    MyBt_trylisten->SetBtCaption(kStop);
}

void ModifyEvent::OnPlayerError(const QString& message) {
    if (!listening_ || closed_) {
        return; // not ours: the try-listen is not running
    }
    listening_ = false;
    MyBt_trylisten->SetBtCaption(kListen);
    Notify(QStringLiteral("无法试听文件“%1”：%2").arg(Lab_path->text(), message));
}

// --- zones

void ModifyEvent::ShowZoneList() {
    zoneList_->show();
    zoneList_->raise();
    zoneList_->setFocus(Qt::OtherFocusReason);
}

void ModifyEvent::TakeZoneList() {
    RebuildZoneLabel();
}

bool ModifyEvent::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress && watched == zoneList_->viewport()) {
        zonePressed_ = zoneList_->itemAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        zonePressedState_ = zonePressed_ ? zonePressed_->checkState() : Qt::Unchecked;
    } else if (type == QEvent::FocusOut && watched == zoneList_) {
        TakeZoneList();
    } else if (type == QEvent::FocusOut &&
               (watched == Combo_EventName || watched == Combo_EventName->lineEdit())) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Its own drop-down, or another window, takes the focus only for a while.
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason &&
            !nameCheckQueued_) {
            // Checked once the focus has moved: a message box opened inside the focus change
            // would cut the click that moved it in two.
            nameCheckQueued_ = true;
            QTimer::singleShot(0, this, [this] {
                nameCheckQueued_ = false;
                // Going to "取消" is leaving without a name: nothing to complain about.
                if (!Combo_EventName->hasFocus() && !cancelButton_->hasFocus()) {
                    RequireEventName();
                }
            });
        }
    } else if (type == QEvent::MouseMove && zoneList_->isVisible()) {
        // The pointer leaving the list over the background, or crossing the zone label,
        // closes the list.
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        if (watched == Lab_Partition ||
            (watched == skin_.background && !zoneList_->geometry().contains(at))) {
            zoneList_->hide();
        }
    }
    return QDialog::eventFilter(watched, event);
}

// --- save, cancel, close

void ModifyEvent::SaveEvent() {
    if (Measuring()) {
        return;
    }
    // An empty box or one holding its prompt's words has no name.
    const QString name = Combo_EventName->currentText().trimmed();
    if (name.isEmpty() || name == kNamePrompt) {
        Notify(QStringLiteral("请输入或选择一个事件名称！"));
        Combo_EventName->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!IsTimeText(Text_Time->text())) {
        // The time box checks only the length of what it is given (a paste from its menu,
        // an old row): a start time of another form would never fire at its time.
        Notify(QStringLiteral("开始时间“%1”无效，请输入“时:分:秒”形式的时间！")
                   .arg(Text_Time->text()));
        Text_Time->setFocus(Qt::OtherFocusReason);
        return;
    }
    const bool library = Combo_EventName->currentIndex() >= 1;
    if (!library && Lab_path->text().isEmpty()) {
        Notify(QStringLiteral("还未设置播放曲目，请选择播放曲目！"));
        ChooseMusicFile();
        return;
    }
    QString error;
    if (!Save(&error)) {
        // Nothing was written: say why and keep the user's input for another try.
        PlayLog(QStringLiteral("error editor: saving the event failed: %1").arg(error));
        Notify(QStringLiteral("保存失败，没有写入任何内容：%1").arg(error));
        return;
    }
    accept();
}

bool ModifyEvent::Save(QString* error) {
    const bool library = Combo_EventName->currentIndex() >= 1;
    EventRow row;
    row.id = id_;
    row.weekName = !weekName_.isEmpty()       ? weekName_
                   : !row_.weekName.isEmpty() ? row_.weekName
                                              : vars_.CurWeekName;
    row.event = Combo_EventName->currentText();
    row.startTime = Text_Time->text();
    // The labels keep what the user chose, so a failed save leaves the input as it was.
    row.musicFile = library ? kBreakMusicFile : Lab_path->text();
    row.musicLength = library ? kZeroLength : Lab_length->text();
    row.playFlag = playCheck_->isChecked() ? kPlayFlag : QString();
    row.replace = rainCheck_->isChecked() ? rainCombo_->currentText() : QString();
    row.zones = zoneCode_;
    if (IsAddMode()) {
        qint64 id = 0;
        if (!conn_.AddEvent(row, &id, error)) {
            return false;
        }
        savedId_ = id;
    } else {
        if (!conn_.UpdateEvent(row, error, &row_)) {
            return false;
        }
        savedId_ = id_;
    }
    return true;
}

void ModifyEvent::CancelEdit() {
    reject();
}

void ModifyEvent::done(int result) {
    closed_ = true;
    player_.Halt();
    listening_ = false;
    zoneList_->hide();
    QDialog::done(result);
}
