// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QFutureWatcher>
#include <functional>

#include "store/conn.h"
#include "widgets/skin.h"

class MyButton;
class Player;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QListWidgetItem;
class QLineEdit;
class QListWidget;
class Text_TimeBox;
struct ProgramVars;

// The dialog that adds one play event to a weekday or changes one: name (free text or a
// break-music library), start time, play flag, and in the details frame the music file with
// its length, try-listen, the rain-day replacement and the play zones. It writes exactly one
// row of the timetable, and only when "确定" succeeds.
class ModifyEvent : public QDialog {
    Q_OBJECT
public:
    // The texts the dialog shows and stores.
    static inline const QString kAddCaption = QStringLiteral("添加播放事件");
    static inline const QString kModifyCaption = QStringLiteral("修改播放事件");
    static inline const QString kNamePrompt = QStringLiteral("请输入播放事件名");
    static inline const QString kZeroLength = QStringLiteral("00:00:00");
    static inline const QString kListen = QStringLiteral("试听");
    static inline const QString kStop = QStringLiteral("停止");

    // Opens the editor modally: id 0 adds an event to weekName, any other id changes that
    // row. Returns the id of the saved row, or 0 when nothing was saved.
    static qint64 Edit(ProgramVars& vars, Conn& conn, Player& player, const QString& weekName,
                       qint64 id, QWidget* parent);

    ModifyEvent(ProgramVars& vars, Conn& conn, Player& player, const QString& weekName, qint64 id,
                QWidget* parent = nullptr);
    ~ModifyEvent() override;

    // The load step: fills every control for add or modify mode. False when the row to
    // change cannot be read (deleted meanwhile, or a store error); LoadError says why.
    bool Load();
    const QString& LoadError() const { return loadError_; }

    // Asks for a music file; the path, or the empty text when cancelled. Tests replace it.
    std::function<QString()> ChooseMusic;
    // Shows a notice to the user; the program's message box unless a test replaces it.
    std::function<void(const QString& text)> Notify;

    bool IsAddMode() const { return id_ == 0; }
    // The id of the row written by the last successful save; 0 before.
    qint64 SavedId() const { return savedId_; }
    // True from choosing a file until its length has been read and shown.
    bool Measuring() const { return !measuredFile_.isEmpty(); }
    // The zone code the zone label shows, and that a save writes.
    const QString& ZoneCode() const { return zoneCode_; }

    // Handlers. A name chosen from the list (index 1 and up) is a break-music library, which
    // has no music of its own: the music part is disabled and the name cannot be edited.
    void EnableMusicFor(int index);
    // The name box left empty after an edit: says so and takes the focus back.
    void RequireEventName();
    // Asks for a music file and measures it; the path and length show once measured.
    void ChooseMusicFile();
    // "试听" plays the file shown; "停止" stops it.
    void ToggleListening();
    // The zone button opens the zone list, whose focus leaving takes its ticks; "确定"
    // checks and saves the event and closes; "取消" closes without saving.
    void ShowZoneList();
    void TakeZoneList();
    void SaveEvent();
    void CancelEdit();

    // Every way of closing ends here: the player is halted.
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildNameRow();
    void BuildStartRow();
    void BuildDetailsFrame();
    void BuildZonesFrame();
    void ConnectButtons();
    void ConnectZoneList();
    void LoadName(const EventRow* row);
    void LoadReplacements(const EventRow* row);
    void LoadZoneNames();
    void LoadZones(const QString& code);
    void ShowPath(const QString& file);
    void ColourPanels();
    void ShowZoneNames();
    void RebuildZoneLabel();
    void MeasureDone();
    void SetMeasuring(bool on);
    void OnPlayerError(const QString& message);
    bool Save(QString* error);

    ProgramVars& vars_;
    Conn& conn_;
    Player& player_;
    QString weekName_;
    qint64 id_;
    EventRow row_; // the row as read in modify mode
    QString loadError_;
    qint64 savedId_ = 0;
    QString zoneCode_ = QStringLiteral("111111");
    QStringList zoneNames_; // in code order
    bool listening_ = false;
    bool closed_ = false;
    bool checkingName_ = false;
    bool nameTouched_ = false; // the name box changed since the load
    bool nameCheckQueued_ = false;
    QString measuredFile_;
    QFutureWatcher<double> watcher_;

    Skin skin_;
    Text_TimeBox* StartTimeBox = nullptr;
    QLabel* Lab_Event = nullptr;
    QComboBox* Combo_EventName = nullptr;
    QLabel* Lab_StartTime = nullptr;
    QLineEdit* Text_Time = nullptr;
    QCheckBox* playCheck_ = nullptr;
    QGroupBox* detailsFrame_ = nullptr;
    QLabel* pathCaption_ = nullptr;
    QLabel* Lab_path = nullptr;
    QLabel* lengthCaption_ = nullptr;
    QLabel* Lab_length = nullptr;
    MyButton* MyBt_AddSound = nullptr;
    MyButton* MyBt_trylisten = nullptr;
    QCheckBox* rainCheck_ = nullptr;
    QComboBox* rainCombo_ = nullptr;
    QGroupBox* zonesFrame_ = nullptr;
    QListWidgetItem* zonePressed_ = nullptr; // the zone a press in the list landed on
    Qt::CheckState zonePressedState_ = Qt::Unchecked;
    QLabel* Lab_Partition = nullptr;
    MyButton* zonesButton_ = nullptr;
    QListWidget* zoneList_ = nullptr;
    MyButton* okButton_ = nullptr;
    MyButton* cancelButton_ = nullptr;
};
