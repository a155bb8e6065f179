// SPDX-License-Identifier: GPL-3.0-or-later
// The editor opened from the settings window's week page, as the program wires it: the add
// button and a double-click open it for the page's weekday, and a save reloads the grid with
// the saved row selected.
#include "audio/gst_init.h"
#include "audio/gst_player.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "support/media.h"
#include "support/temp_store.h"
#include "widgets/my_button.h"
#include "windows/editor/modify_event.h"
#include "windows/settings/setting_form.h"
#include "windows/settings/settings_grid.h"
#include "windows/settings/settings_state.h"
#include "windows/settings/week_page.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

namespace {

// Runs action on the editor once it is up as a modal window.
void WhenEditorOpens(std::function<void(ModifyEvent*)> action) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* editor = qobject_cast<ModifyEvent*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(editor);
        }
    });
    timer->start(20);
}

struct Rig {
    Rig() {
        EnsureGstInit();
        state.WeekName = QStringLiteral("星期三");
        bell = store.dir.path() + "/bell.wav";
        media::Make(bell, 2);
    }
    void Open() {
        form = std::make_unique<SettingForm>(vars, *store.conn, player, state);
        Page()->OpenEditor = [this](const QString& week, qint64 id) {
            return ModifyEvent::Edit(vars, *store.conn, player, week, id, form.get());
        };
        form->show();
    }
    WeekPage* Page() { return form->findChild<WeekPage*>("Frame(0)"); }
    FlexGrid* Grid() { return form->findChild<FlexGrid*>("MSHFlexGrid1"); }
    QString Cell(int row, const QString& title) {
        QAbstractItemModel* m = Grid()->model();
        for (int c = 0; c < m->columnCount(); ++c) {
            if (m->headerData(c, Qt::Horizontal).toString() == title) {
                return m->index(row, c).data().toString();
            }
        }
        return QStringLiteral("<no column %1>").arg(title);
    }
    // Adds 课间操 at 09:40:00 with the bell through 添加 and the editor; check looks at the
    // editor as it opens.
    void AddThroughEditor(std::function<void(ModifyEvent*)> check = {}) {
        WhenEditorOpens([this, check](ModifyEvent* editor) {
            if (check) {
                check(editor);
            }
            editor->findChild<QComboBox*>("Combo_EventName")->setEditText("课间操");
            editor->findChild<QLineEdit*>("Text_Time")->setText("09:40:00");
            editor->ChooseMusic = [this] { return bell; };
            editor->ChooseMusicFile();
            QTRY_VERIFY(!editor->Measuring());
            QTest::mouseClick(editor->findChild<MyButton*>("MyButton1"), Qt::LeftButton);
        });
        QTest::mouseClick(form->findChild<MyButton*>("MyBt_AddEvent"), Qt::LeftButton);
    }

    TempStore store;
    ProgramVars vars;
    GstPlayer player;
    SettingsState state;
    std::unique_ptr<SettingForm> form;
    QString bell;
};

} // namespace

class TestEditorInSettings : public QObject {
    Q_OBJECT

private slots:
    void addFromTheWeekPageSavesForItsWeekdayAndSelectsTheRow() {
        Rig r;
        r.store.AddEvent({0, "星期三", "早读", "07:00:00", r.bell, "00:00:02", "√", "", "111111"});
        r.store.AddEvent({0, "星期三", "午休", "12:00:00", r.bell, "00:00:02", "√", "", "111111"});
        r.Open();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        bool opened = false;
        r.AddThroughEditor([&](ModifyEvent* editor) {
            opened = true;
            QVERIFY(editor->IsAddMode());
        });
        QVERIFY(opened);
        QCOMPARE(r.Grid()->model()->rowCount(), 3);
        r.form->move(40, 30); // opened again from a moved window: centred on it again
        QPoint centre;
        WhenEditorOpens([&](ModifyEvent* editor) {
            centre = editor->frameGeometry().center();
            editor->reject();
        });
        QTest::mouseClick(r.form->findChild<MyButton*>("MyBt_AddEvent"), Qt::LeftButton);
        QVERIFY((centre - r.form->frameGeometry().center()).manhattanLength() <= 2);
        QCOMPARE(r.Grid()->CurrentRow(), 1); // between 07:00 and 12:00
        QCOMPARE(r.Cell(1, "事件"), QString("课间操"));
        QCOMPARE(r.Cell(1, "星期名"), QString("星期三"));
        QCOMPARE(r.Cell(1, "音乐总长"), QString("00:00:02"));
    }

    void doubleClickModifiesTheRowInPlace() {
        Rig r;
        r.store.AddEvent({0, "星期三", "早读", "07:00:00", r.bell, "00:00:02", "√", "", "111111"});
        const qint64 id = r.store.AddEvent(
            {0, "星期三", "午休", "12:00:00", r.bell, "00:00:02", "√", "", "111111"});
        r.Open();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        WhenEditorOpens([](ModifyEvent* editor) {
            auto* name = editor->findChild<QComboBox*>("Combo_EventName");
            QCOMPARE(name->currentText(), QString("午休"));
            name->setEditText("午睡");
            QTest::mouseClick(editor->findChild<MyButton*>("MyButton1"), Qt::LeftButton);
        });
        const QRect cell = r.Grid()->visualRect(r.Grid()->model()->index(1, 3));
        QTest::mouseDClick(r.Grid()->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(r.Grid()->model()->rowCount(), 2);
        QCOMPARE(r.Grid()->CurrentId(), id);
        QCOMPARE(r.Cell(1, "事件"), QString("午睡"));
    }
    // Today is Monday and the page opens on it; the user turns to Wednesday's page and adds
    // an event there: it is Wednesday's, and Monday's timetable is as it was. (Should the
    // machine's own date be a Wednesday, Thursday's page stands in, so that the page's day
    // is never today's by any clock.)
    void anEventAddedOnAnotherDaysPageIsThatDays() {
        Rig r;
        const QString page =
            WeekdayName(QDate::currentDate()) == "星期三" ? QString("星期四") : QString("星期三");
        r.vars.CurWeekName = "星期一"; // today, as the schedule keeps it
        r.state.WeekName.clear();      // the first opening of the run
        r.store.AddEvent({0, "星期一", "早读", "07:00:00", r.bell, "00:00:02", "√", "", "111111"});
        r.Open();
        QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
        auto* week = r.form->findChild<QComboBox*>("Combo_Week");
        QCOMPARE(week->currentText(), QString("星期一"));
        week->setCurrentIndex(week->findText(page));
        r.AddThroughEditor();
        const QVector<EventRow> added = r.store.TodayEvents(page, "00:00:00");
        QCOMPARE(added.size(), 1);
        QCOMPARE(added[0].weekName, page);
        QCOMPARE(added[0].event, QString("课间操"));
        QCOMPARE(r.store.TodayEvents("星期一", "00:00:00").size(), 1);
        QCOMPARE(r.Cell(0, "事件"), QString("课间操")); // and the page shows it
    }
};

QTEST_MAIN(TestEditorInSettings)
#include "test_editor_in_settings.moc"
