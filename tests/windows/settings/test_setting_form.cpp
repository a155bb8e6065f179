// SPDX-License-Identifier: GPL-3.0-or-later
// The settings window and its week page over a real store: opening weekday, the grid's
// rows, titles and colours, block deletes, the editor hand-off, copy a day, the accordion.
#include "core/program_vars.h"
#include "support/fakes.h"
#include "support/temp_store.h"
#include "widgets/art.h"
#include "widgets/my_button.h"
#include "widgets/round_form.h"
#include "windows/settings/menu_layout.h"
#include "windows/settings/setting_form.h"
#include "windows/settings/settings_grid.h"
#include "windows/settings/week_page.h"

#include <QComboBox>
#include <QHeaderView>
#include <QListWidget>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QColor kGreen(204, 255, 153);
const QColor kGrey(192, 192, 192);
const QColor kRed(255, 150, 150);

// Counts the file checks: a long grid must not check each file at every reload.
struct CountingPlayer : FakePlayer {
    QString WhyUnplayable(const QString& file) const override {
        ++checks;
        return FakePlayer::WhyUnplayable(file);
    }
    mutable int checks = 0;
};

struct Question {
    QString title, text;
    MsgMode mode;
};

struct Rig {
    Rig() { vars.CurWeekName = "星期三"; }

    qint64 Add(const QString& week, const QString& name, const QString& start,
               const QString& file = "/m/bell.wav", const QString& flag = "√") {
        return store.AddEvent({0, week, name, start, file, "00:00:05", flag, "", "111111"});
    }
    // Opens the window and routes its questions to answer.
    void Open() {
        form = std::make_unique<SettingForm>(vars, *store.conn, player, state);
        Grid()->Ask = [this](const QString& title, const QString& text, MsgMode mode) {
            questions.push_back({title, text, mode});
            return answer;
        };
        Page()->OpenEditor = [this](const QString& week, qint64 id) {
            editorCalls << QString("%1/%2").arg(week).arg(id);
            return editorResult;
        };
        form->show();
    }
    void Close() { form.reset(); }

    WeekPage* Page() { return form->findChild<WeekPage*>("Frame(0)"); }
    FlexGrid* Grid() { return form->findChild<FlexGrid*>("MSHFlexGrid1"); }
    QComboBox* Combo() { return form->findChild<QComboBox*>("Combo_Week"); }
    QListWidget* List() { return form->findChild<QListWidget*>("List_SelCopyDay"); }
    MyButton* Button(const char* name) { return form->findChild<MyButton*>(name); }
    QColor Colour(int row) {
        return Grid()->model()->index(row, 2).data(Qt::BackgroundRole).value<QColor>();
    }
    QString Title(int column) {
        return Grid()->model()->headerData(column, Qt::Horizontal).toString();
    }
    void ChooseWeek(const QString& week) { Combo()->setCurrentIndex(WeekdayIndex(week)); }
    static int WeekdayIndex(const QString& week) {
        return QStringList({"星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"})
            .indexOf(week);
    }
    // The ids of a weekday in start-time order, read from the store.
    QVector<qint64> Ids(const QString& week) {
        GridData data;
        store.conn->GridRows(GridQuery::WeekDay(week), &data, &store.error);
        QVector<qint64> ids;
        for (const auto& row : data.rows) {
            ids << row[0].toLongLong();
        }
        return ids;
    }
    QStringList Names(const QString& week) {
        GridData data;
        store.conn->GridRows(GridQuery::WeekDay(week), &data, &store.error);
        QStringList out;
        for (const auto& row : data.rows) {
            out << row[2].toString() + "|" + row[3].toString() + "|" + row[4].toString() + "|" +
                       row[6].toString();
        }
        return out;
    }
    void ClickRow(int row, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        const QRect r = Grid()->visualRect(Grid()->model()->index(row, 2));
        QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, mods, r.center());
    }
    void ChooseCopyTargets(const QStringList& days) {
        for (int i = 0; i < List()->count(); ++i) {
            List()->item(i)->setSelected(days.contains(List()->item(i)->text()));
        }
    }

    TempStore store;
    ProgramVars vars;
    CountingPlayer player;
    SettingsState state;
    std::unique_ptr<SettingForm> form;
    QVector<Question> questions;
    bool answer = true;
    QStringList editorCalls;
    qint64 editorResult = 0;
};

} // namespace

class TestSettingForm : public QObject {
    Q_OBJECT

private slots:
    void windowIsSkinnedWithCaptionAndSize() {
        Rig r;
        r.Open();
        QCOMPARE(r.form->windowTitle(), QString("详细设置"));
        QCOMPARE(r.form->size(), QSize(749, 385));
        QVERIFY(r.form->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(r.form->findChild<QLabel*>("Lab_FormTitle")->text(), QString("详细设置"));
        for (const char* name :
             {"Menu(0)", "Menu(1)", "MenuGroup(0)", "MenuGroup(1)", "MenuGroup(2)", "MenuGroup(3)",
              "Shape_ListButton", "Frame(0)", "Frame(1)", "Frame(2)", "Frame(3)", "Combo_Week",
              "MSHFlexGrid1", "MyBt_AddEvent", "MyBt_DelEvent", "MyBt_CopyDay", "List_SelCopyDay",
              "MyButton_Close", "Img_FormTitle"}) {
            QVERIFY2(r.form->findChild<QWidget*>(name), name);
        }
    }

    void closeButtonIsWhollyInsideTheRegionAndCloses() {
        Rig r;
        r.Open();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        MyButton* close = r.Button("MyButton_Close");
        const QRegion region = ClientRoundRegion(r.form->size());
        QCOMPARE(region.intersected(close->geometry()), QRegion(close->geometry()));
        QCOMPARE(r.form->mask(), region);
        QTest::mouseClick(close, Qt::LeftButton, {}, close->rect().center());
        QVERIFY(!r.form->isVisible());
        QCOMPARE(r.form->result(), int(QDialog::Rejected));
    }

    void opensOnTodaysWeekdayThenOnTheOneLastChosen() {
        Rig r;
        r.Add("星期三", "wednesday", "08:00:00");
        r.Add("星期五", "friday", "08:00:00");
        r.Open();
        QCOMPARE(r.Combo()->currentText(), QString("星期三"));
        QCOMPARE(r.Grid()->Model()->Cell(0, "事件"), QString("wednesday"));
        r.ChooseWeek("星期五");
        QCOMPARE(r.Grid()->Model()->Cell(0, "事件"), QString("friday"));
        r.Close();
        r.Open();
        QCOMPARE(r.Combo()->currentText(), QString("星期五"));
        QCOMPARE(r.Grid()->Model()->Cell(0, "事件"), QString("friday"));
        QCOMPARE(r.vars.CurWeekName, QString("星期三")); // the schedule keeps today
        QCOMPARE(r.state.GridSql[0], GridQuery::WeekDay("星期五"));
    }

    void eventsAreInStartTimeOrderWithIdAndWeekdayHidden() {
        Rig r;
        r.store.AddEvent({0, "星期三", "second", "10:00:00", "/m/b.wav", "", "√", "", "100001"});
        r.Add("星期三", "first", "08:00:00");
        r.Open();
        FlexGrid* g = r.Grid();
        QCOMPARE(g->Model()->rowCount(), 2);
        QCOMPARE(g->model()->index(0, 8).data().toString(), QString("全部区域")); // by name
        QCOMPARE(g->model()->index(1, 8).data().toString(), QString("教学楼一、操场"));
        QCOMPARE(g->Model()->Cell(1, "播放区域"), QString("100001"));
        QCOMPARE(g->Model()->Cell(0, "事件"), QString("first"));
        QCOMPARE(g->Model()->Cell(1, "事件"), QString("second"));
        QVERIFY(g->isColumnHidden(0));
        QVERIFY(g->isColumnHidden(1));
        QCOMPARE(r.Title(2), QString("事件"));
        QCOMPARE(r.Title(4), QString("音乐文件"));
        for (int c = 2; c < 9; ++c) {
            QVERIFY(!g->isColumnHidden(c));
            QVERIFY(g->columnWidth(c) >= g->horizontalHeader()->sectionSizeHint(c));
        }
        QCOMPARE(g->columnWidth(4), 233); // 3500 twips
        QCOMPARE(g->selectionBehavior(), QAbstractItemView::SelectRows);
    }

    void anEmptyWeekdayShowsItsTitlesOverOneEmptyRowAndAsksNothing() {
        Rig r;
        r.Add("星期一", "monday", "08:00:00");
        r.Open(); // Wednesday has nothing
        FlexGrid* g = r.Grid();
        QCOMPARE(g->model()->rowCount(), 1);
        QVERIFY(g->IsEmpty());
        QCOMPARE(g->CurrentId(), qint64(0));
        QCOMPARE(r.Title(2), QString("事件"));
        for (int c = 0; c < g->model()->columnCount(); ++c) {
            QCOMPARE(g->model()->index(0, c).data().toString(), QString());
        }
        QVERIFY(!r.Button("MyBt_CopyDay")->Enabled());
        QVERIFY(!r.Button("MyBt_DelEvent")->Enabled());
        QTest::keyRelease(g, Qt::Key_Delete);
        r.Page()->DeleteEvents();
        QVERIFY(r.questions.isEmpty());
        r.ChooseWeek("星期一");
        QVERIFY(r.Button("MyBt_CopyDay")->Enabled());
        QVERIFY(r.Button("MyBt_DelEvent")->Enabled());
    }

    void rowColoursFollowBreakMusicThePlayFlagAndWhatCannotRing() {
        Rig r;
        const QString bell = r.store.dir.path() + "/bell.wav";
        QFile(bell).open(QIODevice::WriteOnly); // the fake player plays any file that exists
        r.store.AddSong("曲库_轻音乐", bell, "00:00:05");
        r.Add("星期三", "bell", "08:00:00", bell);
        r.Add("星期三", "曲库_轻音乐", "09:00:00", "课间音乐曲库");
        r.Add("星期三", "off", "10:00:00", "/m/x.wav", "");
        r.Add("星期三", "曲库_关", "11:00:00", "课间音乐曲库", "");
        r.Add("星期三", "gone", "12:00:00", "/m/gone.wav");
        r.Add("星期三", "曲库_空", "13:00:00", "课间音乐曲库");
        r.Add("星期三", "typo", "14:0:00", bell);
        r.Add("星期三", "gone again", "15:00:00", "/m/gone.wav");
        r.Open();
        QVERIFY(!r.Colour(0).isValid());
        QCOMPARE(r.Colour(1), kGreen);
        QCOMPARE(r.Colour(2), kGrey);
        QCOMPARE(r.Colour(3), kGrey); // grey wins
        for (int row : {4, 5, 6, 7}) {
            QCOMPARE(r.Colour(row), kRed);
        }
        auto tip = [&](int row) {
            return r.Grid()->model()->index(row, 4).data(Qt::ToolTipRole).toString();
        };
        QCOMPARE(tip(0), bell); // a cell's own text
        QCOMPARE(tip(4), QString("/m/gone.wav\n无法播放：/m/gone.wav（文件不存在）"));
        QVERIFY(tip(5).contains("曲库_空") && tip(5).contains("没有歌曲"));
        QVERIFY(tip(6).contains("14:0:00") && tip(6).contains("hh:mm:ss"));
        // Each file was checked once; another weekday and back checks nothing again.
        QCOMPARE(r.player.checks, 3);
        r.ChooseWeek("星期四");
        r.ChooseWeek("星期三");
        QCOMPARE(r.player.checks, 3);
        QCOMPARE(WeekRowColour("/m/a.wav", "√"), QColor());
        QCOMPARE(WeekRowColour("课间音乐曲库", "√"), kGreen);
        QCOMPARE(WeekRowColour("/m/a.wav", QString()), kGrey);
    }

    void deletingRowsFiveUpToTwoDeletesExactlyThoseAndReloadsOnce() {
        Rig r;
        for (int i = 0; i < 7; ++i) {
            r.Add("星期三", QString("e%1").arg(i), QString("0%1:00:00").arg(i));
        }
        const QVector<qint64> ids = r.Ids("星期三");
        r.Open();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        r.ClickRow(4);                    // row 5
        r.ClickRow(1, Qt::ShiftModifier); // up to row 2
        QCOMPARE(r.Grid()->SelectedIds(), QVector<qint64>({ids[1], ids[2], ids[3], ids[4]}));
        QSignalSpy reloads(r.Grid(), &FlexGrid::Reloaded);
        QTest::keyPress(r.Grid(), Qt::Key_Delete);
        QVERIFY(r.questions.isEmpty()); // acted on at release
        QTest::keyRelease(r.Grid(), Qt::Key_Delete);
        QCOMPARE(r.questions.size(), 1);
        QCOMPARE(r.questions[0].title, QString("删除提示"));
        QCOMPARE(r.questions[0].text, QString("真的要删除这些记录（共 4 条）吗？"));
        QCOMPARE(r.questions[0].mode, MsgMode::Confirm);
        QCOMPARE(r.Ids("星期三"), QVector<qint64>({ids[0], ids[5], ids[6]}));
        QCOMPARE(reloads.size(), 1);
        QCOMPARE(r.Grid()->Model()->rowCount(), 3);
    }

    void otherKeysDoNothing() {
        Rig r;
        r.Add("星期三", "bell", "08:00:00");
        r.Open();
        QTest::keyClick(r.Grid(), Qt::Key_Backspace);
        QTest::keyClick(r.Grid(), Qt::Key_X);
        QVERIFY(r.questions.isEmpty());
        QCOMPARE(r.Ids("星期三").size(), 1);
    }

    void refusingTheDeleteChangesNothing() {
        Rig r;
        for (int i = 0; i < 3; ++i) {
            r.Add("星期三", QString("e%1").arg(i), QString("0%1:00:00").arg(i));
        }
        r.Open();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        r.ClickRow(0);
        r.ClickRow(2, Qt::ShiftModifier);
        QSignalSpy reloads(r.Grid(), &FlexGrid::Reloaded);
        r.answer = false;
        QTest::mouseClick(r.Button("MyBt_DelEvent"), Qt::LeftButton);
        QCOMPARE(r.questions.size(), 1);
        QCOMPARE(r.Ids("星期三").size(), 3);
        QCOMPARE(reloads.size(), 0);
        QCOMPARE(r.Grid()->SelectedIds().size(), 3);
        r.ClickRow(1);
        QTest::mouseClick(r.Button("MyBt_DelEvent"), Qt::LeftButton);
        QCOMPARE(r.questions.value(1).text, QString("真的要删除“e1”吗？"));
    }

    void aFailingDeleteDeletesNothingAndSaysWhy() {
        Rig r;
        const qint64 a = r.Add("星期三", "a", "08:00:00");
        r.Add("星期三", "b", "09:00:00");
        r.store.Raw(QString("CREATE TRIGGER keep BEFORE DELETE ON 作息表 WHEN OLD.id = %1 "
                            "BEGIN SELECT RAISE(ABORT, 'row is locked'); END")
                        .arg(a + 1));
        r.Open();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        r.ClickRow(0);
        r.ClickRow(1, Qt::ShiftModifier);
        r.Page()->DeleteEvents();
        QCOMPARE(r.questions.size(), 2);
        QCOMPARE(r.questions[1].mode, MsgMode::Notice);
        QVERIFY(r.questions[1].text.contains("row is locked"));
        QCOMPARE(r.Ids("星期三").size(), 2);
    }

    void aFailingQueryShowsOneEmptyRowAndTheReason() {
        Rig r;
        r.Add("星期三", "bell", "08:00:00");
        r.Open();
        r.store.Raw("ALTER TABLE 作息表 RENAME COLUMN 星期名 TO 旧星期名");
        QVERIFY(!ReFleshGrid(r.Grid(), *r.store.conn, GridQuery::WeekDay("星期三")));
        QVERIFY(r.Grid()->IsEmpty());
        QCOMPARE(r.Grid()->model()->rowCount(), 1);
        QCOMPARE(r.questions.size(), 1);
        QVERIFY(r.questions[0].text.contains("no such column"));
        r.store.conn->Close();
        r.ChooseWeek("星期四"); // a closed store: still no crash, one empty row
        QCOMPARE(r.Grid()->model()->rowCount(), 1);
        QCOMPARE(r.questions.size(), 2);
        QVERIFY(!r.Button("MyBt_DelEvent")->Enabled());
    }

    void addOpensTheEditorForTheWeekdayAndSelectsTheSavedRow() {
        Rig r;
        r.Add("星期三", "a", "08:00:00");
        const qint64 current = r.Add("星期三", "b", "09:00:00");
        r.Open();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        r.ClickRow(1);
        QCOMPARE(r.Grid()->CurrentId(), current);
        // Cancelled: the grid and its current row stay as they were.
        QTest::mouseClick(r.Button("MyBt_AddEvent"), Qt::LeftButton);
        QCOMPARE(r.editorCalls, QStringList({"星期三/0"}));
        QCOMPARE(r.Grid()->CurrentId(), current);
        r.answer = false;
        QTest::keyRelease(r.Grid(), Qt::Key_Delete);
        QCOMPARE(r.questions.size(), 1); // the Delete key still works on that row
        // Saved: reloaded with the new row selected.
        r.editorResult = r.Add("星期三", "new", "08:30:00");
        r.Page()->AddEvent();
        QCOMPARE(r.Grid()->Model()->rowCount(), 3);
        QCOMPARE(r.Grid()->CurrentId(), r.editorResult);
        QCOMPARE(r.Grid()->CurrentRow(), 1);
        QCOMPARE(r.Grid()->SelectedIds(), QVector<qint64>({r.editorResult}));
    }

    void doubleClickOrEnterModifiesTheCurrentRow() {
        Rig r;
        r.Add("星期三", "a", "08:00:00");
        const qint64 b = r.Add("星期三", "b", "09:00:00");
        r.Open();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        const QRect cell = r.Grid()->visualRect(r.Grid()->model()->index(1, 3));
        QTest::mouseDClick(r.Grid()->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(r.editorCalls.value(0), QString("星期三/%1").arg(b));
        r.ClickRow(0);
        QTest::keyClick(r.Grid(), Qt::Key_Return);
        QCOMPARE(r.editorCalls.size(), 2);
        QCOMPARE(r.editorCalls[1], QString("星期三/%1").arg(b - 1));
    }

    void emptyGridOpensNoEditorOnDoubleClick() {
        Rig r;
        r.Open();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        const QRect cell = r.Grid()->visualRect(r.Grid()->model()->index(0, 3));
        QTest::mouseDClick(r.Grid()->viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY(r.editorCalls.isEmpty());
    }

    void copyingMondayOntoTuesdayAndSaturday() {
        Rig r;
        r.Add("星期一", "上课", "08:00:00");
        r.Add("星期一", "曲库_轻音乐", "09:50:00", "课间音乐曲库");
        r.Add("星期一", "off", "11:00:00", "/m/x.wav", "");
        r.Add("星期二", "old tuesday", "07:00:00");
        r.Add("星期六", "old saturday", "07:00:00");
        r.Open();
        r.ChooseWeek("星期一");
        MyButton* copy = r.Button("MyBt_CopyDay");
        QCOMPARE(copy->BtCaption(), QString("复制到"));
        QVERIFY(r.List()->isHidden());
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(copy->BtCaption(), QString("确定"));
        QVERIFY(r.List()->isVisible());
        QStringList items;
        for (int i = 0; i < r.List()->count(); ++i) {
            items << r.List()->item(i)->text();
        }
        QCOMPARE(items, QStringList({"星期日", "星期二", "星期三", "星期四", "星期五", "星期六"}));
        r.ChooseCopyTargets({"星期二", "星期六"});
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(copy->BtCaption(), QString("复制到"));
        QVERIFY(r.List()->isHidden());
        QCOMPARE(r.questions.size(), 2);
        QCOMPARE(r.questions[0].title, QString("复制到..."));
        QCOMPARE(r.questions[0].text,
                 QString("星期二、星期六 的全部事件将被 星期一 的事件替换。确定复制吗？"));
        QCOMPARE(r.questions[0].mode, MsgMode::Confirm);
        QCOMPARE(r.questions[1].text, QString("星期一 的事件已复制到 星期二、星期六。"));
        QCOMPARE(r.questions[1].mode, MsgMode::Notice);
        const QStringList monday = r.Names("星期一");
        QCOMPARE(monday.size(), 3);
        QCOMPARE(r.Names("星期二"), monday);
        QCOMPARE(r.Names("星期六"), monday);
        QCOMPARE(r.Combo()->currentText(), QString("星期一")); // still the source day
    }

    void confirmingWithNothingChosenChangesNothing() {
        Rig r;
        r.Add("星期三", "bell", "08:00:00");
        r.Add("星期四", "thursday", "08:00:00");
        r.Open();
        MyButton* copy = r.Button("MyBt_CopyDay");
        r.Page()->CopyDay();
        r.Page()->CopyDay();
        QCOMPARE(copy->BtCaption(), QString("复制到"));
        QVERIFY(r.questions.isEmpty());
        QCOMPARE(r.Names("星期四").size(), 1);
        QCOMPARE(r.Names("星期二").size(), 0);
    }

    void refusingTheCopyQuestionChangesNothing() {
        Rig r;
        r.Add("星期三", "bell", "08:00:00");
        r.Add("星期四", "thursday", "08:00:00");
        r.Open();
        r.Page()->CopyDay();
        r.ChooseCopyTargets({"星期四"});
        r.answer = false;
        r.Page()->CopyDay();
        QCOMPARE(r.questions.size(), 1);
        QCOMPARE(r.Names("星期四"), QStringList({"thursday|08:00:00|/m/bell.wav|√"}));
    }

    void theListHidesOnLosingFocusAndTheChoiceSurvives() {
        Rig r;
        r.Add("星期三", "bell", "08:00:00");
        r.Open();
        QVERIFY(QTest::qWaitForWindowActive(r.form.get()));
        r.Page()->CopyDay();
        QTRY_VERIFY(r.List()->hasFocus());
        r.ChooseCopyTargets({"星期五"});
        r.Combo()->setFocus();
        QTRY_VERIFY(r.List()->isHidden());
        QCOMPARE(r.Button("MyBt_CopyDay")->BtCaption(), QString("确定"));
        r.Page()->CopyDay();
        QCOMPARE(r.Names("星期五"), r.Names("星期三"));
    }

    void aCopyFailingHalfWayLeavesTheTargetsAndSaysWhy() {
        Rig r;
        for (int i = 0; i < 3; ++i) {
            r.Add("星期一", QString("m%1").arg(i), QString("0%1:00:00").arg(i));
        }
        r.Add("星期二", "old tuesday", "07:00:00");
        r.Add("星期六", "old saturday", "07:00:00");
        r.store.Raw("CREATE TRIGGER full BEFORE INSERT ON 作息表 WHEN (SELECT count(*) FROM 作息表 "
                    "WHERE 星期名 IN ('星期二', '星期六')) >= 2 "
                    "BEGIN SELECT RAISE(ABORT, 'disk is full'); END");
        r.Open();
        r.ChooseWeek("星期一");
        r.Page()->CopyDay();
        r.ChooseCopyTargets({"星期二", "星期六"});
        r.Page()->CopyDay();
        QCOMPARE(r.questions.size(), 2);
        QCOMPARE(r.questions[1].mode, MsgMode::Notice);
        QVERIFY(r.questions[1].text.contains("disk is full"));
        QCOMPARE(r.Names("星期二"), QStringList({"old tuesday|07:00:00|/m/bell.wav|√"}));
        QCOMPARE(r.Names("星期六"), QStringList({"old saturday|07:00:00|/m/bell.wav|√"}));
    }

    void namesAndPathsWithQuotesAreShownAndCopiedIntact() {
        Rig r;
        const QString name = "it's \"the\" bell";
        const QString path = "/music/O'Neil \"live\".mp3";
        r.Add("星期三", name, "08:00:00", path);
        r.Open();
        QCOMPARE(r.Grid()->model()->index(0, 2).data().toString(), name);
        QCOMPARE(r.Grid()->model()->index(0, 4).data().toString(), path);
        r.Page()->CopyDay();
        r.ChooseCopyTargets({"星期日"});
        r.Page()->CopyDay();
        QCOMPARE(r.Names("星期日"), QStringList({name + "|08:00:00|" + path + "|√"}));
        r.ChooseWeek("星期日");
        QCOMPARE(r.Grid()->model()->index(0, 2).data().toString(), name);
    }

    void layoutMenuPlacesEachHeadingAndItsEntries() {
        MenuLayoutInput in;
        in.menuTop = 700;
        in.menuHeight = 450;
        in.drawerLeft = 480;
        in.drawerWidth = 1600;
        in.drawerHeight = 3950;
        in.entrySize = 1050;
        const MenuLayoutResult open0 = LayoutMenuPositions(in);
        QCOMPARE(open0.drawerTop, 1140);
        QCOMPARE(open0.secondMenuTop, 1140 + 3950 - 50);
        QCOMPARE(open0.firstEntry, 0);
        QCOMPARE(open0.entries,
                 QVector<QPoint>({{755, 1340}, {755, 1340 + 1250}, {755, 1340 + 2500}}));
        in.curMenu = 1;
        const MenuLayoutResult open1 = LayoutMenuPositions(in);
        QCOMPARE(open1.secondMenuTop, 700 + 450 - 10); // right under heading 0
        QCOMPARE(open1.drawerTop, 450 * 2 + 700 - 10);
        QCOMPARE(open1.firstEntry, 3);
        QCOMPARE(open1.entries, QVector<QPoint>({{755, 1590 + 200}}));
    }

    void headingsMoveTheEntriesButNotThePage() {
        Rig r;
        r.Open();
        auto* menu1 = r.form->findChild<MyButton*>("Menu(1)");
        auto* drawer = r.form->findChild<QWidget*>("Shape_ListButton");
        QCOMPARE(r.form->CurMenu(), 0);
        QCOMPARE(menu1->y(), Px(5040));
        QCOMPARE(drawer->y(), Px(1140));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(r.Button(qPrintable(QString("MenuGroup(%1)").arg(i)))->isVisible());
        }
        QVERIFY(!r.Button("MenuGroup(3)")->isVisible());
        QTest::mouseClick(menu1, Qt::LeftButton);
        QCOMPARE(r.form->CurMenu(), 1);
        QCOMPARE(menu1->y(), Px(1140));
        QCOMPARE(drawer->y(), Px(1590));
        QCOMPARE(r.Button("MenuGroup(3)")->pos(), QPoint(Px(755), Px(1790)));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!r.Button(qPrintable(QString("MenuGroup(%1)").arg(i)))->isVisible());
        }
        QCOMPARE(r.form->CurGroup(), 0);
        QVERIFY(r.form->Frame(0)->isVisible());
        QTest::mouseClick(r.form->findChild<MyButton*>("Menu(0)"), Qt::LeftButton);
        QCOMPARE(menu1->y(), Px(5040));
    }

    void entriesSwitchPagesAndTheShownEntryDoesNotReload() {
        Rig r;
        r.Open();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        QCOMPARE(r.Button("MenuGroup(0)")->FaceIndex(), 4); // marked once shown
        QSignalSpy reloads(r.Grid(), &FlexGrid::Reloaded);
        QTest::mouseClick(r.Button("MenuGroup(0)"), Qt::LeftButton);
        QCOMPARE(reloads.size(), 0);
        QCOMPARE(r.Button("MenuGroup(0)")->FaceIndex(), 4); // and stays marked when clicked
        QTest::mouseClick(r.Button("MenuGroup(2)"), Qt::LeftButton);
        QCOMPARE(r.form->CurGroup(), 2);
        QVERIFY(!r.form->Frame(0)->isVisible());
        QVERIFY(r.form->Frame(2)->isVisible());
        QCOMPARE(r.form->Frame(2)->geometry(), QRect(Px(2200), Px(700), Px(8000), Px(4900)));
        QCOMPARE(r.Button("MenuGroup(2)")->FaceIndex(), 4);
        QCOMPARE(r.Button("MenuGroup(0)")->FaceIndex(), 0);
        r.form->SelectPage(0);
        QCOMPARE(reloads.size(), 1); // coming back re-reads the page
        QVERIFY(r.form->Frame(0)->isVisible());
    }

    void aManagedPageLocksItsEditingButNotTheWeekdayAndUnlocksAsItWas() {
        Rig r;
        r.Add("星期三", "上课", "08:00:00");
        r.Open();
        r.Page()->SetManaged(true);
        QVERIFY(!r.Button("MyBt_AddEvent")->isEnabled() && !r.Button("MyBt_DelEvent")->isEnabled());
        QVERIFY(r.Combo()->isEnabled());
        r.ChooseWeek("星期一");
        r.ChooseWeek("星期三"); // a day with rows enables delete, unless it is locked
        QVERIFY(!r.Button("MyBt_DelEvent")->isEnabled());
        r.Page()->SetManaged(false);
        QVERIFY(r.Button("MyBt_AddEvent")->isEnabled() && r.Button("MyBt_DelEvent")->isEnabled());
        r.ChooseWeek("星期一");
        QVERIFY(!r.Button("MyBt_DelEvent")->isEnabled()); // follows its grid again
    }
};

QTEST_MAIN(TestSettingForm)
#include "test_setting_form.moc"
