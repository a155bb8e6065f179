// SPDX-License-Identifier: GPL-3.0-or-later
// The play-event editor offscreen, on a real store and the real GStreamer player with a
// fake sink: add and modify mode, libraries, replacements, zones, choosing music and its
// length, try-listen, save, cancel and the failures of each.
#include "audio/gst_init.h"
#include "audio/gst_player.h"
#include "core/program_vars.h"
#include "store/conn.h"
#include "support/media.h"
#include "support/settle.h"
#include "support/temp_store.h"
#include "widgets/message_box.h"
#include "widgets/my_button.h"
#include "windows/editor/modify_event.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QSemaphore>
#include <QTimer>
#include <QtTest>

namespace {

// Media shared by every test: made once, at the start.
struct Media {
    QTemporaryDir dir;
    QString song205;  // 205 s
    QString shortWav; // 1 s
    QString quoted;   // 1 s, a name with ' and "
    QString broken;   // text named .mp3
};
Media* media_ = nullptr;

// A real player whose length reading waits until the test opens the gate, as a long MIDI
// file on a slow disk would.
class GatedPlayer : public GstPlayer {
public:
    double MeasureDuration(const QString& file) override {
        gate.acquire();
        return GstPlayer::MeasureDuration(file);
    }
    QSemaphore gate;
};

template <typename P = GstPlayer> struct Rig {
    Rig() {
        vars.CurWeekName = QStringLiteral("星期一");
        vars.ClassMusicArr = {QStringLiteral("曲库_早操"), QStringLiteral("曲库_午休")};
        vars.ReplaceMusicArr = {{QStringLiteral("雨天铃声"), media_->shortWav},
                                {QStringLiteral("雨天音乐"), media_->song205}};
    }
    ~Rig() { dialog.reset(); }

    // Opens the editor non-modally for the test, with the chooser and notices answered here.
    ModifyEvent* Open(qint64 id, bool* loaded = nullptr) {
        dialog =
            std::make_unique<ModifyEvent>(vars, *store.conn, player, QStringLiteral("星期一"), id);
        dialog->ChooseMusic = [this] {
            ++chooserCalls;
            return chosen;
        };
        dialog->Notify = [this](const QString& text) { messages << text; };
        const bool ok = dialog->Load();
        if (loaded) {
            *loaded = ok;
        }
        dialog->show();
        return dialog.get();
    }
    template <typename T = QWidget> T* Find(const char* name) {
        T* w = dialog->findChild<T*>(QString::fromLatin1(name));
        if (!w) {
            qFatal("no control %s", name);
        }
        return w;
    }
    QComboBox* Name() { return Find<QComboBox>("Combo_EventName"); }
    QString Path() { return Find<QLabel>("Lab_path")->text(); }
    QString Length() { return Find<QLabel>("Lab_length")->text(); }
    QString Listen() { return Find<MyButton>("MyBt_trylisten")->BtCaption(); }
    void Click(const char* button) { QTest::mouseClick(Find(button), Qt::LeftButton); }
    // Chooses file with the add button and waits for its length.
    void ChooseMusic(const QString& file) {
        chosen = file;
        Click("MyBt_AddSound");
        QTRY_VERIFY(!dialog->Measuring());
    }
    qint64 AddEvent(const QString& name, const QString& file, const QString& length,
                    const QString& replace = QString(), const QString& zones = "111111") {
        return store.AddEvent(
            {0, QStringLiteral("星期一"), name, "07:30:00", file, length, "√", replace, zones});
    }
    EventRow Row(qint64 id) {
        EventRow row;
        QString error;
        if (!store.conn->EventById(id, &row, &error)) {
            qWarning("%s", qPrintable(error));
        }
        return row;
    }
    int RowCount() {
        QSqlQuery q(Db(*store.conn));
        q.exec("SELECT count(*) FROM 作息表");
        q.next();
        return q.value(0).toInt();
    }

    TempStore store;
    ProgramVars vars;
    P player;
    std::unique_ptr<ModifyEvent> dialog;
    QStringList messages;
    QString chosen;
    int chooserCalls = 0;
};

// Runs action on the editor once it is up as a modal window.
void WhenModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            action(w);
        }
    });
    timer->start(20);
}

void SetZones(QListWidget* list, const QString& code) {
    for (int i = 0; i < list->count(); ++i) {
        list->item(i)->setCheckState(code[i] == '1' ? Qt::Checked : Qt::Unchecked);
    }
}

QString ListCode(QListWidget* list) {
    QString code;
    for (int i = 0; i < list->count(); ++i) {
        code += list->item(i)->checkState() == Qt::Checked ? '1' : '0';
    }
    return code;
}

} // namespace

class TestModifyEvent : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        EnsureGstInit();
        media_ = new Media;
        const QString d = media_->dir.path();
        media_->song205 = d + "/song205.wav";
        media_->shortWav = d + "/short.wav";
        media_->quoted = d + "/it's \"loud\".wav";
        media_->broken = d + "/broken.mp3";
        QVERIFY(media::Make(media_->song205, 205));
        QVERIFY(media::Make(media_->shortWav, 1));
        QVERIFY(QFile::copy(media_->shortWav, media_->quoted));
        QFile f(media_->broken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("this is no music at all\n");
    }
    void cleanupTestCase() { delete media_; }

    void controlsCarryTheirNamesAndCaptions() {
        Rig r;
        r.Open(0);
        QCOMPARE(r.dialog->windowTitle(), QString("添加播放事件"));
        QCOMPARE(r.Find<QLabel>("Lab_FormTitle")->text(), QString("添加播放事件"));
        QCOMPARE(r.Find<QLabel>("Lab_Event")->text(), QString("事件名称"));
        QCOMPARE(r.Find<QLabel>("Lab_StartTime")->text(), QString("开始时间"));
        QCOMPARE(r.Find<QCheckBox>("Check1")->text(), QString("是否播放"));
        QCOMPARE(r.Find<QGroupBox>("Frame1")->title(), QString("详细设置"));
        QCOMPARE(r.Find<QLabel>("Label2")->text(), QString("歌曲路径"));
        QCOMPARE(r.Find<QLabel>("Label3")->text(), QString("歌曲总长"));
        QCOMPARE(r.Find<MyButton>("MyBt_AddSound")->BtCaption(), QString("添加"));
        QCOMPARE(r.Listen(), QString("试听"));
        QCOMPARE(r.Find<QCheckBox>("Check2")->text(), QString("有雨天音乐"));
        QCOMPARE(r.Find<QGroupBox>("Frame2")->title(), QString("播放区域"));
        QCOMPARE(r.Find<MyButton>("MyButton1")->BtCaption(), QString("确定"));
        QCOMPARE(r.Find<MyButton>("MyButton2")->BtCaption(), QString("取消"));
        QCOMPARE(r.Find<MyButton>("yButton_Close")->BtCaption(), QString("×"));
        QCOMPARE(r.Find<MyButton>("yButton_Close")->toolTip(), QString("退出本程序"));
        for (const char* name : {"Img", "ImgTitle", "Img_FormTitle", "Text_Time", "Combo1",
                                 "Lab_Partition", "MyButton3", "List1"}) {
            QVERIFY2(r.dialog->findChild<QWidget*>(name), name);
        }
        QVERIFY(!r.Find("List1")->isVisible());
        // The details frame holds a song's controls: disabling it disables them all.
        for (const char* name :
             {"Check2", "Combo1", "MyBt_AddSound", "MyBt_trylisten", "Lab_path", "Lab_length"}) {
            QVERIFY2(r.Find("Frame1")->isAncestorOf(r.Find(name)), name);
        }
        QVERIFY(!r.dialog->mask().isEmpty()); // the rounded region
    }

    void addModeEvenWhenRowsExistAndSavesANewRow() {
        Rig r;
        const qint64 existing = r.AddEvent("上课铃", media_->shortWav, "00:00:01");
        r.Open(0);
        QVERIFY(r.dialog->IsAddMode());
        QCOMPARE(r.Name()->currentIndex(), 0);
        QCOMPARE(r.Name()->currentText(), QString());
        QCOMPARE(r.Name()->lineEdit()->placeholderText(), QString("请输入播放事件名"));
        QCOMPARE(r.Name()->count(), 3); // the own name and the two libraries
        QCOMPARE(r.Find<QLineEdit>("Text_Time")->text(), QString("00:00:00"));
        QVERIFY(r.Find<QCheckBox>("Check1")->isChecked());
        QVERIFY(!r.Find<QCheckBox>("Check2")->isChecked());
        QVERIFY(r.Find("Frame1")->isEnabled());
        QCOMPARE(r.Path(), QString());
        QCOMPARE(r.Length(), QString("00:00:00"));
        // The prompt is not a name: 确定 asks for one and writes nothing.
        r.ChooseMusic(media_->shortWav);
        r.Click("MyButton1");
        QCOMPARE(r.messages, QStringList{"请输入或选择一个事件名称！"});
        QCOMPARE(r.RowCount(), 1);

        r.Name()->setEditText("下课铃");
        r.Find<QLineEdit>("Text_Time")->setText("10:15:00");
        r.ChooseMusic(media_->shortWav);
        r.Click("MyButton1");
        QVERIFY(!r.dialog->isVisible());
        const qint64 id = r.dialog->SavedId();
        QVERIFY(id > existing);
        QCOMPARE(r.RowCount(), 2);
        const EventRow row = r.Row(id);
        QCOMPARE(row.weekName, QString("星期一"));
        QCOMPARE(row.event, QString("下课铃"));
        QCOMPARE(row.startTime, QString("10:15:00"));
        QCOMPARE(row.musicFile, media_->shortWav);
        QCOMPARE(row.musicLength, QString("00:00:01"));
        QCOMPARE(row.playFlag, QString("√"));
        QCOMPARE(row.replace, QString());
        QCOMPARE(row.zones, QString("111111"));
        QCOMPARE(r.Row(existing).event, QString("上课铃"));
    }

    void modifyOfANormalEventFillsEveryField() {
        Rig r;
        const qint64 id = r.store.AddEvent({0, "星期一", "眼保健操", "10:05:30", media_->song205,
                                            "00:03:25", "", "雨天音乐", "011000"});
        r.Open(id);
        QCOMPARE(r.dialog->windowTitle(), QString("修改播放事件"));
        QCOMPARE(r.Find<QLabel>("Lab_FormTitle")->text(), QString("修改播放事件"));
        QCOMPARE(r.Name()->currentIndex(), 0);
        QCOMPARE(r.Name()->currentText(), QString("眼保健操"));
        QCOMPARE(r.Name()->itemText(1), QString("曲库_早操"));
        QCOMPARE(r.Find<QLineEdit>("Text_Time")->text(), QString("10:05:30"));
        QVERIFY(!r.Find<QCheckBox>("Check1")->isChecked());
        QCOMPARE(r.Path(), media_->song205);
        QCOMPARE(r.Length(), QString("00:03:25"));
        QVERIFY(r.Find<QCheckBox>("Check2")->isChecked());
        QCOMPARE(r.Find<QComboBox>("Combo1")->currentText(), QString("雨天音乐"));
        QVERIFY(r.Find("Frame1")->isEnabled());
        QCOMPARE(r.Find<QLabel>("Lab_Partition")->text(), QString("教学楼二、教学楼三"));
        QCOMPARE(ListCode(r.Find<QListWidget>("List1")), QString("011000"));

        // Saved unchanged, the row stays exactly as it was.
        r.Click("MyButton1");
        QCOMPARE(r.dialog->SavedId(), id);
        const EventRow row = r.Row(id);
        QCOMPARE(row.event, QString("眼保健操"));
        QCOMPARE(row.startTime, QString("10:05:30"));
        QCOMPARE(row.playFlag, QString());
        QCOMPARE(row.musicFile, media_->song205);
        QCOMPARE(row.replace, QString("雨天音乐"));
        QCOMPARE(row.zones, QString("011000"));
        QCOMPARE(r.RowCount(), 1);
    }

    void modifyOfALibraryEventSelectsTheLibrary() {
        Rig r;
        const qint64 id = r.AddEvent("曲库_午休", "课间音乐曲库", "00:00:00");
        r.Open(id);
        QCOMPARE(r.Name()->itemText(0), QString());
        QCOMPARE(r.Name()->currentIndex(), 2);
        QCOMPARE(r.Name()->currentText(), QString("曲库_午休"));
        QVERIFY(!r.Find("Frame1")->isEnabled());
        QVERIFY(!r.Find("MyBt_AddSound")->isEnabled());
        QCOMPARE(r.Find<MyButton>("MyBt_AddSound")->CaptionColor(), MyButton::kCaptionDisabled);
        QCOMPARE(r.Path(), QString());
        QCOMPARE(r.Length(), QString("00:00:00"));
        // A library name cannot be edited.
        QVERIFY(r.Name()->lineEdit()->isReadOnly());
        r.Name()->setFocus();
        QTest::keyClick(r.Name()->lineEdit(), Qt::Key_A);
        QCOMPARE(r.Name()->currentText(), QString("曲库_午休"));
        // Item 0 gives the details back.
        r.Name()->setCurrentIndex(0);
        QVERIFY(r.Find("Frame1")->isEnabled());
        QVERIFY(!r.Name()->lineEdit()->isReadOnly());
    }

    void aLibraryThatNoLongerExistsAsksForMusicOnSave() {
        Rig r;
        const qint64 id = r.AddEvent("曲库_已删除", "课间音乐曲库", "00:00:00");
        r.Open(id);
        QCOMPARE(r.Name()->currentIndex(), 0);
        QCOMPARE(r.Name()->currentText(), QString());
        QVERIFY(r.Find("Frame1")->isEnabled());
        QCOMPARE(r.Path(), QString());
        r.chosen.clear(); // the user cancels the file dialog
        r.Click("MyButton1");
        QCOMPARE(r.messages, QStringList{"请输入或选择一个事件名称！"}); // no name
        r.Name()->setEditText("曲库_已删除");
        r.messages.clear();
        r.Click("MyButton1");
        QCOMPARE(r.messages, QStringList{"还未设置播放曲目，请选择播放曲目！"});
        QCOMPARE(r.chooserCalls, 1);
        QVERIFY(r.dialog->isVisible());
        QCOMPARE(r.dialog->SavedId(), 0);
        QCOMPARE(r.Row(id).event, QString("曲库_已删除"));
    }

    void savingALibraryEvent() {
        Rig r;
        r.Open(0);
        r.Name()->setCurrentIndex(1);
        QVERIFY(!r.Find("Frame1")->isEnabled());
        QVERIFY(r.Find("MyButton3")->isEnabled()); // break music plays on zones too
        r.Click("MyButton3");
        SetZones(r.Find<QListWidget>("List1"), "000011");
        r.Find<QLineEdit>("Text_Time")->setText("12:00:00");
        r.Click("MyButton1");
        QCOMPARE(r.chooserCalls, 0);
        QVERIFY(r.messages.isEmpty());
        const EventRow row = r.Row(r.dialog->SavedId());
        QCOMPARE(row.event, QString("曲库_早操"));
        QCOMPARE(row.musicFile, QString("课间音乐曲库"));
        QCOMPARE(row.musicLength, QString("00:00:00"));
        QCOMPARE(row.startTime, QString("12:00:00"));
        QCOMPARE(row.zones, QString("000011"));
    }

    void aLibraryChoiceNeverLeaksIntoAFailedSave() {
        // A library save that fails leaves the labels as the user left them, so going back
        // to an ordinary name does not carry the library's pseudo file along.
        Rig r;
        const qint64 id = r.AddEvent("广播", media_->shortWav, "00:00:01");
        r.Open(id);
        r.store.Raw(QString("DELETE FROM 作息表 WHERE id=%1").arg(id));
        r.Name()->setCurrentIndex(1);
        r.Click("MyButton1");
        QCOMPARE(r.Path(), media_->shortWav);
        QCOMPARE(r.Length(), QString("00:00:01"));
    }

    void withoutReplacementsTheChoiceIsDisabledAndSavedEmpty() {
        Rig r;
        r.vars.ReplaceMusicArr.clear();
        const qint64 id = r.AddEvent("升旗", media_->shortWav, "00:00:01", "雨天铃声");
        r.Open(id);
        QVERIFY(!r.Find("Combo1")->isEnabled());
        QVERIFY(!r.Find("Check2")->isEnabled());
        QVERIFY(r.Find<QCheckBox>("Check2")->isChecked()); // ticked, but names nothing
        r.Click("MyButton1");
        QCOMPARE(r.Row(id).replace, QString());
        QVERIFY(!r.Row(id).replace.isNull());
    }

    void aVanishedReplacementSelectsTheFirst() {
        Rig r;
        const qint64 id = r.AddEvent("升旗", media_->shortWav, "00:00:01", "旧的雨天音乐");
        r.Open(id);
        QVERIFY(r.Find<QCheckBox>("Check2")->isChecked());
        QCOMPARE(r.Find<QComboBox>("Combo1")->currentIndex(), 0);
        QCOMPARE(r.Find<QComboBox>("Combo1")->currentText(), QString("雨天铃声"));
        r.Click("MyButton1");
        QCOMPARE(r.Row(id).replace, QString("雨天铃声"));
    }

    void anUntickedReplacementSavesEmpty() {
        Rig r;
        const qint64 id = r.AddEvent("升旗", media_->shortWav, "00:00:01", "雨天音乐");
        r.Open(id);
        r.Find<QCheckBox>("Check2")->setChecked(false);
        QCOMPARE(r.Find<QComboBox>("Combo1")->currentText(), QString("雨天音乐"));
        r.Click("MyButton1");
        QCOMPARE(r.Row(id).replace, QString());
    }

    void zoneLabelTextsAndTheSavedCode() {
        Rig r;
        r.Open(0);
        auto* list = r.Find<QListWidget>("List1");
        auto* label = r.Find<QLabel>("Lab_Partition");
        QCOMPARE(label->text(), QString("全部区域"));
        QCOMPARE(ListCode(list), QString("111111"));

        r.Click("MyButton3");
        QVERIFY(list->isVisible());
        SetZones(list, "100001");
        QCOMPARE(label->text(), QString("教学楼一、操场"));
        SetZones(list, "000000");
        QCOMPARE(label->text(), QString("无"));
        SetZones(list, "111111");
        QCOMPARE(label->text(), QString("全部区域"));
        SetZones(list, "100001");
        // Crossing the zone label closes the list.
        QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), label->mapToGlobal(QPointF(2, 2)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(label, &move);
        QVERIFY(!list->isVisible());
        QCOMPARE(label->text(), QString("教学楼一、操场"));
        // Over the background: inside the list's rectangle it stays, outside it closes.
        auto* background = r.Find<QLabel>("Img");
        r.Click("MyButton3");
        auto moveOver = [&](QPoint at) {
            QMouseEvent e(QEvent::MouseMove, QPointF(at), background->mapToGlobal(QPointF(at)),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(background, &e);
        };
        moveOver(list->geometry().center());
        QVERIFY(list->isVisible());
        moveOver(list->geometry().bottomRight() + QPoint(5, 5));
        QVERIFY(!list->isVisible());

        r.Name()->setEditText("分区广播");
        r.ChooseMusic(media_->shortWav);
        r.Click("MyButton1");
        const qint64 id = r.dialog->SavedId();
        QCOMPARE(r.Row(id).zones, QString("100001"));

        r.Open(id);
        QCOMPARE(r.Find<QLabel>("Lab_Partition")->text(), QString("教学楼一、操场"));
        QCOMPARE(ListCode(r.Find<QListWidget>("List1")), QString("100001"));
        SetZones(r.Find<QListWidget>("List1"), "000000");
        r.Click("MyButton1");
        QCOMPARE(r.Row(id).zones, QString("000000"));
        r.Open(id);
        QCOMPARE(r.Find<QLabel>("Lab_Partition")->text(), QString("无"));
        QVector<ZoneRow> zones; // as the zones page names them
        QVERIFY(r.store.conn->Zones(&zones));
        zones[0].name = "东楼";
        QVERIFY(r.store.conn->SetZones(zones) && r.Open(0));
        SetZones(r.Find<QListWidget>("List1"), "100001");
        QCOMPARE(r.Find<QLabel>("Lab_Partition")->text(), QString("东楼、操场"));
    }

    // Zones picked as a person does: a click on a zone's name or its box, and the space
    // bar, each tick or untick it once; the label and the store follow.
    void zonesPickedWithTheMouseAndKeyboardAreSaved() {
        Rig r;
        r.Open(0);
        auto* list = r.Find<QListWidget>("List1");
        r.Click("MyButton3");
        QTRY_VERIFY(list->hasFocus());
        auto clickAt = [&](int row, bool onBox) {
            const QRect rect = list->visualItemRect(list->item(row));
            const QPoint at = onBox ? QPoint(rect.left() + rect.height() / 2, rect.center().y())
                                    : QPoint(rect.right() - 10, rect.center().y());
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        };
        clickAt(1, false); // 教学楼二 off
        clickAt(3, true);  // 寝室楼一 off
        list->setCurrentRow(4);
        QTest::keyClick(list, Qt::Key_Space); // 寝室楼二 off
        QCOMPARE(ListCode(list), QString("101001"));
        r.Find("Text_Time")->setFocus(); // leaving the list
        QTRY_COMPARE(r.Find<QLabel>("Lab_Partition")->text(), QString("教学楼一、教学楼三、操场"));
        r.Name()->setEditText("分区");
        r.ChooseMusic(media_->shortWav);
        r.Click("MyButton1");
        QCOMPARE(r.Row(r.dialog->SavedId()).zones, QString("101001"));
    }

    // The frames are one flat colour with the panels inside them, not shaded patches.
    void framesAreTheColourOfTheirPanels() {
        Rig r;
        r.Open(0);
        const QImage shot = r.dialog->grab().toImage();
        for (const char* name : {"Frame1", "Frame2"}) {
            QWidget* frame = r.Find(name);
            const QPoint inside =
                frame->mapTo(r.dialog.get(), QPoint(frame->width() - 6, frame->height() - 6));
            QCOMPARE(shot.pixelColor(inside), QColor(245, 245, 255));
        }
    }

    void choosingMusicSetsPathAndLength() {
        Rig r;
        r.Open(0);
        r.ChooseMusic(media_->song205);
        QCOMPARE(r.Path(), media_->song205);
        QCOMPARE(r.Length(), QString("00:03:25"));
        QVERIFY(r.messages.isEmpty());
    }

    void aFileThePlayerCannotReadKeepsTheOldOne() {
        Rig r;
        const qint64 id = r.AddEvent("铃", media_->shortWav, "00:00:01");
        r.Open(id);
        r.ChooseMusic(media_->broken);
        // The message names the file and what is wrong with it, not the sound card.
        QCOMPARE(r.messages, QStringList{"无法使用文件“" + media_->broken + "”：不是声音文件"});
        QCOMPARE(r.Path(), media_->shortWav);
        QCOMPARE(r.Length(), QString("00:00:01"));
    }

    void cancellingTheChooserChangesNothing() {
        Rig r;
        const qint64 id = r.AddEvent("铃", media_->shortWav, "00:00:01");
        r.Open(id);
        r.ChooseMusic(QString());
        QCOMPARE(r.Path(), media_->shortWav);
        QCOMPARE(r.Length(), QString("00:00:01"));
        QVERIFY(r.messages.isEmpty());
    }

    void aSlowLengthKeepsTheDialogAnswering() {
        Rig<GatedPlayer> r;
        r.Open(0);
        r.chosen = media_->song205;
        r.Click("MyBt_AddSound");
        QVERIFY(r.dialog->Measuring());
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
        QVERIFY(!r.Find("MyButton1")->isEnabled()); // no save of a half-chosen file
        // The window's thread is free: its events and timers run while the length is read.
        bool ticked = false;
        QTimer::singleShot(0, [&] { ticked = true; });
        QTRY_VERIFY(ticked);
        r.Name()->setEditText("慢");
        QVERIFY(r.dialog->Measuring());
        r.player.gate.release();
        QTRY_VERIFY(!r.dialog->Measuring());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(r.Find("MyButton1")->isEnabled());
        QCOMPARE(r.Length(), QString("00:03:25"));
        QCOMPARE(r.Path(), media_->song205);
    }

    void closingWhileALengthIsReadDropsIt() {
        Rig<GatedPlayer> r;
        r.Open(0);
        r.chosen = media_->song205;
        r.Click("MyBt_AddSound");
        r.Click("MyButton2");
        QVERIFY(!r.dialog->isVisible());
        r.player.gate.release();
        r.dialog.reset(); // waits for the reading, then lets go of the cursor
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(r.RowCount(), 0);
    }

    void tryListenTogglesAndChoosingMusicStopsIt() {
        Rig r;
        const qint64 id = r.AddEvent("铃", media_->song205, "00:03:25");
        r.Open(id);
        r.Click("MyBt_trylisten");
        QCOMPARE(r.Listen(), QString("停止"));
        QVERIFY(r.player.IsPlaying());
        QCOMPARE(r.player.FileName(), media_->song205);
        r.Click("MyBt_trylisten");
        QCOMPARE(r.Listen(), QString("试听"));
        QVERIFY(!r.player.IsPlaying());

        r.Click("MyBt_trylisten");
        QVERIFY(r.player.IsPlaying());
        r.ChooseMusic(media_->shortWav);
        QVERIFY(!r.player.IsPlaying());
        QCOMPARE(r.Listen(), QString("试听"));
        QCOMPARE(r.Path(), media_->shortWav);
    }

    void tryListenWithoutMusicDoesNothing() {
        Rig r;
        r.Open(0);
        r.Click("MyBt_trylisten");
        QCOMPARE(r.Listen(), QString("试听"));
        QVERIFY(!r.player.IsPlaying());
    }

    void tryListenOfAMissingFileSaysSo() {
        Rig r;
        const QString gone = media_->dir.path() + "/gone.wav";
        const qint64 id = r.AddEvent("铃", gone, "00:00:01");
        r.Open(id);
        r.Click("MyBt_trylisten");
        QCOMPARE(r.Listen(), QString("试听"));
        QCOMPARE(r.messages.size(), 1);
        QVERIFY2(r.messages[0].contains(gone), qPrintable(r.messages[0]));
        QVERIFY(!r.player.IsPlaying());
    }

    void tryListenOfAFileThatWillNotPlaySaysSo() {
        Rig r;
        const qint64 id = r.AddEvent("铃", media_->broken, "00:00:01");
        r.Open(id);
        r.Click("MyBt_trylisten");
        QTRY_COMPARE(r.messages.size(), 1);
        QVERIFY2(r.messages[0].contains(media_->broken), qPrintable(r.messages[0]));
        QCOMPARE(r.Listen(), QString("试听"));
    }

    void everyWayOfClosingHaltsThePlayer() {
        for (const char* way : {"MyButton2", "yButton_Close", "Escape", "MyButton1"}) {
            Rig r;
            const qint64 id = r.AddEvent("铃", media_->song205, "00:03:25");
            r.Open(id);
            r.Click("MyBt_trylisten");
            QVERIFY2(r.player.IsPlaying(), way);
            if (QByteArray(way) == "Escape") {
                QTest::keyClick(r.dialog.get(), Qt::Key_Escape);
            } else {
                r.Click(way);
            }
            QVERIFY2(!r.dialog->isVisible(), way);
            QVERIFY2(!r.player.IsPlaying(), way);
        }
    }

    void cancelLeavesEverything() {
        Rig r;
        const qint64 id = r.AddEvent("铃", media_->shortWav, "00:00:01", "雨天铃声");
        const EventRow before = r.Row(id);
        r.Open(id);
        r.Name()->setEditText("改了");
        r.Find<QCheckBox>("Check1")->setChecked(false);
        r.ChooseMusic(media_->song205);
        SetZones(r.Find<QListWidget>("List1"), "000000");
        r.Click("MyButton2");
        QVERIFY(!r.dialog->isVisible());
        QCOMPARE(r.dialog->SavedId(), 0);
        const EventRow after = r.Row(id);
        QCOMPARE(after.event, before.event);
        QCOMPARE(after.musicFile, before.musicFile);
        QCOMPARE(after.playFlag, before.playFlag);
        QCOMPARE(after.zones, before.zones);
        QCOMPARE(r.RowCount(), 1);
    }

    void aModifyOfADeletedRowWritesNothingAndKeepsTheInput() {
        Rig r;
        const qint64 id = r.AddEvent("铃", media_->shortWav, "00:00:01");
        r.Open(id);
        r.store.Raw(QString("DELETE FROM 作息表 WHERE id=%1").arg(id));
        r.Name()->setEditText("改过的名字");
        r.Click("MyButton1");
        QCOMPARE(r.messages.size(), 1);
        QVERIFY2(r.messages[0].contains("不存在"), qPrintable(r.messages[0]));
        QVERIFY(r.dialog->isVisible());
        QCOMPARE(r.dialog->SavedId(), 0);
        QCOMPARE(r.RowCount(), 0);
        QCOMPARE(r.Name()->currentText(), QString("改过的名字"));
        QCOMPARE(r.Path(), media_->shortWav);
    }

    void aStoreErrorAtSaveWritesNothing() {
        Rig r;
        r.Open(0);
        r.Name()->setEditText("新事件");
        r.ChooseMusic(media_->shortWav);
        r.store.Raw("CREATE TRIGGER refuse BEFORE INSERT ON 作息表 BEGIN SELECT "
                    "RAISE(ABORT, 'disk says no'); END");
        r.Click("MyButton1");
        QCOMPARE(r.messages.size(), 1);
        QVERIFY2(r.messages[0].contains("disk says no"), qPrintable(r.messages[0]));
        QVERIFY(r.dialog->isVisible());
        QCOMPARE(r.RowCount(), 0);
    }

    void namesAndPathsWithQuotesAreSavedIntact() {
        Rig r;
        r.Open(0);
        const QString name = "it's the \"big\" bell'; DROP TABLE 作息表; --";
        r.Name()->setEditText(name);
        r.ChooseMusic(media_->quoted);
        r.Click("MyButton1");
        const qint64 id = r.dialog->SavedId();
        QVERIFY(id > 0);
        QCOMPARE(r.Row(id).event, name);
        QCOMPARE(r.Row(id).musicFile, media_->quoted);
        r.Open(id);
        QCOMPARE(r.Name()->currentText(), name);
        QCOMPARE(r.Path(), media_->quoted);
    }

    void aStartTimeOfAnotherFormIsRefusedAtSave() {
        Rig r;
        const qint64 id = r.AddEvent("铃", media_->shortWav, "00:00:01");
        r.Open(id);
        r.Find<QLineEdit>("Text_Time")->setText("12345678"); // pasted through the box's menu
        r.Click("MyButton1");
        QCOMPARE(r.messages.size(), 1);
        QVERIFY2(r.messages[0].contains("12345678"), qPrintable(r.messages[0]));
        QVERIFY(r.dialog->isVisible());
        QCOMPARE(r.Row(id).startTime, QString("07:30:00"));
    }

    void aTypedNameSurvivesEnter() {
        Rig r;
        r.Open(0);
        r.Name()->setEditText("午间广播");
        QTest::keyClick(r.Name()->lineEdit(), Qt::Key_Return);
        QCOMPARE(r.Name()->currentText(), QString("午间广播"));
        QCOMPARE(r.Name()->currentIndex(), 0);
        QCOMPARE(r.Name()->count(), 3); // nothing was added to the list
    }

    void choosingALibraryStopsATryListen() {
        Rig r;
        const qint64 id = r.AddEvent("铃", media_->song205, "00:03:25");
        r.Open(id);
        r.Click("MyBt_trylisten");
        QVERIFY(r.player.IsPlaying());
        r.Name()->setCurrentIndex(1);
        QVERIFY(!r.player.IsPlaying());
        QCOMPARE(r.Listen(), QString("试听"));
    }

    void keysOnTheButtons() {
        Rig r;
        const qint64 id = r.AddEvent("铃", media_->shortWav, "00:00:01");
        r.Open(id);
        r.Name()->setEditText("回车保存");
        QTest::keyClick(r.Find("MyButton1"), Qt::Key_Return);
        QCOMPARE(r.dialog->SavedId(), id);
        QCOMPARE(r.Row(id).event, QString("回车保存"));
        r.Open(id);
        QTest::keyClick(r.Find("MyButton1"), Qt::Key_Escape);
        QVERIFY(!r.dialog->isVisible());
        QCOMPARE(r.dialog->SavedId(), 0);
    }

    // By keyboard alone: a name typed at once replaces the prompt; Space and Enter press.
    void anEventAddedByKeyboardAlone() {
        Rig r;
        r.chosen = media_->shortWav;
        r.Open(0);
        QApplication::setActiveWindow(r.dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(r.dialog.get()));
        QTRY_VERIFY(r.Name()->hasFocus());
        for (QChar ch : QString("下课")) {
            QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown,
                                QString(ch), Qt::NoModifier);
        }
        QCOMPARE(r.Name()->currentText(), QString("下课"));
        for (auto [button, key] :
             {std::pair{"MyBt_AddSound", Qt::Key_Space}, std::pair{"MyButton1", Qt::Key_Return}}) {
            for (int i = 0; i < 20 && !r.Find(button)->hasFocus(); ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            }
            QTest::keyClick(QApplication::focusWidget(), key);
            QTRY_COMPARE(r.Path(), media_->shortWav);
        }
        QVERIFY(!r.dialog->isVisible());
        QCOMPARE(r.Row(r.dialog->SavedId()).event, QString("下课"));
    }

    void leavingAnEmptyNameSaysSoAndReturns() {
        Rig r;
        r.Open(0);
        QApplication::setActiveWindow(r.dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(r.dialog.get()));
        r.Name()->setFocus();
        QTRY_VERIFY(r.Name()->hasFocus());
        r.Find("Text_Time")->setFocus(); // the prompt untouched: to be filled later
        QVERIFY(Settle() && r.messages.isEmpty());
        r.Name()->setFocus();
        r.Name()->setEditText("   ");
        r.Find("Text_Time")->setFocus();
        QTRY_COMPARE(r.messages, QStringList{"请输入或选择一个事件名称！"});
        QTRY_VERIFY(r.Name()->hasFocus());
        // Going to cancel with an empty name does not complain.
        r.Name()->setEditText("");
        r.Find("MyButton2")->setFocus();
        QTRY_VERIFY(r.Find("MyButton2")->hasFocus());
        QVERIFY(Settle()); // the check on leaving runs from the event loop
        QCOMPARE(r.messages.size(), 1);
        r.Name()->setFocus();
        QTRY_VERIFY(r.Name()->hasFocus());
        // The prompt itself is a name like any other.
        r.Name()->setEditText("请输入播放事件名");
        r.Find("Text_Time")->setFocus();
        QTRY_VERIFY(r.Find("Text_Time")->hasFocus());
        QVERIFY(Settle());
        QCOMPARE(r.messages.size(), 1);
    }

    void editOpensModallyAndReturnsTheSavedId() {
        TempStore store;
        ProgramVars vars;
        GstPlayer player;
        WhenModal([](QWidget* w) {
            auto* editor = qobject_cast<ModifyEvent*>(w);
            QVERIFY(editor);
            QCOMPARE(editor->windowTitle(), QString("添加播放事件"));
            editor->findChild<QComboBox*>("Combo_EventName")->setCurrentIndex(0);
            editor->findChild<QComboBox*>("Combo_EventName")->setEditText("模态");
            editor->ChooseMusic = [] { return media_->shortWav; };
            QTest::mouseClick(editor->findChild<MyButton*>("MyBt_AddSound"), Qt::LeftButton);
            QTRY_VERIFY(!editor->Measuring());
            QTest::mouseClick(editor->findChild<MyButton*>("MyButton1"), Qt::LeftButton);
        });
        const qint64 id = ModifyEvent::Edit(vars, *store.conn, player, "星期三", 0, nullptr);
        QVERIFY(id > 0);
        EventRow row;
        QVERIFY(store.conn->EventById(id, &row));
        QCOMPARE(row.event, QString("模态"));
        QCOMPARE(row.weekName, QString("星期三"));

        WhenModal([](QWidget* w) {
            QTest::mouseClick(w->findChild<MyButton*>("MyButton2"), Qt::LeftButton);
        });
        QCOMPARE(ModifyEvent::Edit(vars, *store.conn, player, "星期三", id, nullptr), 0);
    }

    void editOfARowDeletedBeforeOpeningSaysSo() {
        TempStore store;
        ProgramVars vars;
        GstPlayer player;
        QString shown;
        WhenModal([&shown](QWidget* w) {
            auto* box = qobject_cast<MessageBox*>(w);
            QVERIFY(box);
            shown = box->findChild<QLabel*>("Label1")->text();
            QTest::mouseClick(box->findChild<MyButton*>("MyButton1"), Qt::LeftButton);
        });
        QCOMPARE(ModifyEvent::Edit(vars, *store.conn, player, "星期三", 77, nullptr), 0);
        QVERIFY2(shown.contains("不存在"), qPrintable(shown));
    }
};

QTEST_MAIN(TestModifyEvent)
#include "test_modify_event.moc"
