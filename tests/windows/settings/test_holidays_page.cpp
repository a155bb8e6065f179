// SPDX-License-Identifier: GPL-3.0-or-later
// The special-days page over a real store: add one day, a range, refusals, delete with the
// confirmation, past days greyed, importing a holiday calendar (and a faulty one, which
// imports nothing and names the line); and its entry in the settings window's accordion.
#include "core/program_vars.h"
#include "support/fakes.h"
#include "support/settle.h"
#include "support/temp_store.h"
#include "widgets/art.h"
#include "widgets/my_button.h"
#include "widgets/ui_font.h"
#include "windows/settings/holidays_page.h"
#include "windows/settings/menu_layout.h"
#include "windows/settings/setting_form.h"
#include "windows/settings/settings_context.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTableWidget>
#include <QtTest>

namespace {

const QDate kToday(2026, 9, 28);

struct Rig {
    Rig() : ctx{vars, *store.conn, player, state}, page(ctx) {
        page.Today = [] { return kToday; };
        page.Ask = [this](const QString& text) {
            asked << text;
            return answer;
        };
        page.Notify = [this](const QString& text) { told << text; };
        page.ChooseIcsFile = [this] { return icsFile; };
        page.Load();
        page.show();
    }
    template <typename W> W* Find(const char* name) { return page.findChild<W*>(name); }
    QTableWidget* Grid() { return Find<QTableWidget>("Grid_SpecialDays"); }
    void Range(const QDate& from, const QDate& to, const QString& kind, const QString& note) {
        Find<QDateEdit>("Date_From")->setDate(from);
        Find<QDateEdit>("Date_To")->setDate(to);
        auto* combo = Find<QComboBox>("Combo_Kind");
        combo->setCurrentIndex(combo->findData(kind));
        Find<QLineEdit>("Text_Note")->setText(note);
    }
    void Click(const char* button) {
        MyButton* b = Find<MyButton>(button);
        QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
    }
    QStringList Rows() {
        QStringList out;
        for (int i = 0; i < Grid()->rowCount(); ++i) {
            out << Grid()->item(i, 0)->text() + "|" + Grid()->item(i, 1)->text() + "|" +
                       Grid()->item(i, 2)->text();
        }
        return out;
    }
    QStringList Stored() {
        QVector<SpecialDayRow> rows;
        store.conn->SpecialDays(&rows, &store.error);
        QStringList out;
        for (const auto& r : rows) {
            out << r.date + "|" + r.kind + "|" + r.note;
        }
        return out;
    }
    QString WriteIcs(const QString& name, const QStringList& lines) {
        const QString path = store.dir.path() + "/" + name;
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write((lines.join("\r\n") + "\r\n").toUtf8());
        return path;
    }

    TempStore store;
    ProgramVars vars;
    FakePlayer player;
    SettingsState state;
    SettingsContext ctx;
    SpecialDaysPage page;
    QStringList asked, told;
    bool answer = true;
    QString icsFile;
};

} // namespace

class TestSpecialDaysPage : public QObject {
    Q_OBJECT

private slots:
    void addingOneDayStoresAndListsIt() {
        Rig r;
        QCOMPARE(r.Grid()->rowCount(), 0);
        QCOMPARE(r.Find<QDateEdit>("Date_From")->date(), kToday); // offered first
        r.Range(QDate(2026, 10, 1), QDate(2026, 10, 1), "无铃声", "国庆节");
        r.Click("MyBt_AddDay");
        QCOMPARE(r.Stored(), QStringList({"2026-10-01|无铃声|国庆节"}));
        QCOMPARE(r.Rows(), QStringList({"2026-10-01|无铃声|国庆节"}));
        QVERIFY(r.Find<QLineEdit>("Text_Note")->text().isEmpty());
        QVERIFY(r.told.isEmpty());
    }

    void aRangeAddsEveryDayOfIt() {
        Rig r;
        r.Range(QDate(2026, 10, 1), QDate(2026, 10, 7), "无铃声", "国庆");
        r.Click("MyBt_AddDay");
        QCOMPARE(r.Stored().size(), 7);
        QCOMPARE(r.Rows().first(), QString("2026-10-01|无铃声|国庆"));
        QCOMPARE(r.Rows().last(), QString("2026-10-07|无铃声|国庆"));
    }

    void aMakeUpDayShowsTheWeekdayItRuns() {
        Rig r;
        r.Range(QDate(2026, 10, 10), QDate(2026, 10, 10), "星期五", "调休");
        r.Click("MyBt_AddDay");
        QCOMPARE(r.Stored(), QStringList({"2026-10-10|星期五|调休"}));
        QCOMPARE(r.Rows(), QStringList({"2026-10-10|按星期五作息|调休"}));
    }

    void theEndFollowsAStartSetAfterIt() {
        Rig r;
        r.Range(QDate(2026, 10, 1), QDate(2026, 10, 1), "无铃声", "");
        r.Find<QDateEdit>("Date_From")->setDate(QDate(2026, 10, 5));
        QCOMPARE(r.Find<QDateEdit>("Date_To")->date(), QDate(2026, 10, 5));
    }

    void anEndBeforeTheStartAddsNothingAndSaysWhy() {
        Rig r;
        r.Range(QDate(2026, 10, 7), QDate(2026, 10, 7), "无铃声", "");
        r.Find<QDateEdit>("Date_To")->setDate(QDate(2026, 10, 1));
        r.Click("MyBt_AddDay");
        QVERIFY(r.Stored().isEmpty());
        QCOMPARE(r.told.size(), 1);
        QVERIFY(r.told.first().contains("早于"));
    }

    void replacingDaysAlreadySpecialAsksFirst() {
        Rig r;
        r.Range(QDate(2026, 10, 1), QDate(2026, 10, 3), "无铃声", "国庆");
        r.Click("MyBt_AddDay");
        r.answer = false;
        r.Range(QDate(2026, 10, 3), QDate(2026, 10, 4), "星期一", "调休");
        r.Click("MyBt_AddDay");
        QCOMPARE(r.asked.size(), 1);
        QVERIFY(r.asked.first().contains("1 天"));
        QCOMPARE(r.Stored().size(), 3); // refused: nothing changed
        r.answer = true;
        r.Click("MyBt_AddDay");
        QCOMPARE(r.Stored(), QStringList({"2026-10-01|无铃声|国庆", "2026-10-02|无铃声|国庆",
                                          "2026-10-03|星期一|调休", "2026-10-04|星期一|调休"}));
    }

    void deletingAsksAndRemovesExactlyTheSelectedDays() {
        Rig r;
        r.Range(QDate(2026, 10, 1), QDate(2026, 10, 4), "无铃声", "国庆");
        r.Click("MyBt_AddDay");
        r.Grid()->selectRow(1);
        r.Grid()->selectionModel()->select(r.Grid()->model()->index(2, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        r.answer = false;
        r.Click("MyBt_DeleteDay");
        QCOMPARE(r.asked.size(), 1);
        QVERIFY(r.asked.first().contains("2 个"));
        QCOMPARE(r.Stored().size(), 4);
        r.answer = true;
        r.Click("MyBt_DeleteDay");
        QCOMPARE(r.Stored(), QStringList({"2026-10-01|无铃声|国庆", "2026-10-04|无铃声|国庆"}));
        QCOMPARE(r.Rows().size(), 2);
    }

    void theDeleteKeyDeletesTheSelectedDay() {
        Rig r;
        r.Range(QDate(2026, 10, 1), QDate(2026, 10, 2), "无铃声", "");
        r.Click("MyBt_AddDay");
        r.Grid()->selectRow(0);
        QTest::keyRelease(r.Grid(), Qt::Key_Delete);
        QCOMPARE(r.asked.size(), 1);
        QCOMPARE(r.Stored(), QStringList({"2026-10-02|无铃声|"}));
    }

    void deleteWithNothingSelectedAsksNothing() {
        Rig r;
        r.Range(QDate(2026, 10, 1), QDate(2026, 10, 1), "无铃声", "");
        r.Click("MyBt_AddDay");
        r.Grid()->clearSelection();
        r.Click("MyBt_DeleteDay");
        QVERIFY(r.asked.isEmpty());
        QCOMPARE(r.Stored().size(), 1);
    }

    void pastDaysAreGreyed() {
        Rig r;
        QVERIFY(r.store.conn->AddSpecialDays({{0, "2026-09-27", "星期一", "已过"},
                                              {0, "2026-09-28", kNoBellsKind, "今天"},
                                              {0, "2026-10-01", kNoBellsKind, "将来"}}));
        r.page.Load();
        auto grey = [&](int row) {
            return r.Grid()->item(row, 0)->foreground().color() == QColor(150, 150, 150);
        };
        QVERIFY(grey(0));
        QVERIFY(!grey(1));
        QVERIFY(!grey(2));
    }

    // Rows another tool wrote, which the schedule ignores, are shown as invalid.
    void rowsTheScheduleIgnoresAreMarkedInvalid() {
        Rig r;
        r.store.Raw("INSERT INTO 特殊日期 (日期, 类型, 备注) VALUES ('2026-10-01', '星期八', ''), "
                    "('2026-10-02 ', '无铃声', ''), ('2026-10-03', '无铃声', '')");
        r.page.Load();
        QCOMPARE(r.Rows(), QStringList({"2026-10-01|无效：类型“星期八”既不是无铃声也不是星期几|",
                                        "2026-10-02 |无效：日期“2026-10-02 ”前后有空格|",
                                        "2026-10-03|无铃声|"}));
        QCOMPARE(r.Grid()->item(0, 0)->foreground().color(), QColor(200, 0, 0));
        QVERIFY(r.Grid()->item(1, 2)->toolTip().contains("前后有空格"));
        QVERIFY(r.Grid()->item(2, 1)->foreground().color() != QColor(200, 0, 0));
    }

    void importingAHolidayCalendarAddsItsRanges() {
        Rig r;
        r.icsFile =
            r.WriteIcs("假期.ics", {"BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//test//ZH",
                                    "BEGIN:VEVENT", "DTSTART;VALUE=DATE:20261001",
                                    "DTEND;VALUE=DATE:20261008", "SUMMARY:国庆节", "END:VEVENT",
                                    "BEGIN:VEVENT", "DTSTART;VALUE=DATE:20270101", "SUMMARY:元旦",
                                    "END:VEVENT", "END:VCALENDAR"});
        r.answer = false; // what will be imported is shown first, and nothing is written
        r.Click("MyBt_ImportIcs");
        QVERIFY(r.Stored().isEmpty());
        QCOMPARE(r.asked.size(), 1);
        QVERIFY2(r.asked[0].contains("8 天") && r.asked[0].contains("从 2026-10-01 到 2027-01-01"),
                 qPrintable(r.asked[0]));
        r.answer = true;
        r.Click("MyBt_ImportIcs");
        QCOMPARE(r.Stored().size(), 8);
        QCOMPARE(r.Rows().first(), QString("2026-10-01|无铃声|国庆节"));
        QCOMPARE(r.Rows()[6], QString("2026-10-07|无铃声|国庆节"));
        QCOMPARE(r.Rows().last(), QString("2027-01-01|无铃声|元旦"));
        QCOMPARE(r.told.size(), 1);
        QVERIFY(r.told.first().contains("8 天"));
    }

    void aMalformedCalendarImportsNothingAndNamesTheLine() {
        Rig r;
        r.icsFile = r.WriteIcs("坏.ics", {"BEGIN:VCALENDAR", "VERSION:2.0", "BEGIN:VEVENT",
                                          "DTSTART;VALUE=DATE:20261001", "SUMMARY:好", "END:VEVENT",
                                          "BEGIN:VEVENT", "DTSTART;VALUE=DATE:2026X008",
                                          "END:VEVENT", "END:VCALENDAR"});
        r.Click("MyBt_ImportIcs");
        QVERIFY(r.Stored().isEmpty());
        QCOMPARE(r.told.size(), 1);
        QVERIFY2(r.told.first().contains("第 8 行"), qPrintable(r.told.first()));
        QVERIFY2(r.told.first().contains("没有导入"), qPrintable(r.told.first()));
    }

    void noFileChosenDoesNothing() {
        Rig r;
        r.icsFile.clear();
        r.Click("MyBt_ImportIcs");
        QVERIFY(r.told.isEmpty());
        QVERIFY(r.Stored().isEmpty());
    }

    // --- the page in the settings window -------------------------------------------------
    void theSecondHeadingHoldsOptionsThenSpecialDays() {
        MenuLayoutInput in;
        in.groupCount[1] = 2;
        in.menuTop = 700;
        in.menuHeight = 450;
        in.drawerLeft = 480;
        in.drawerWidth = 1600;
        in.drawerHeight = 3950;
        in.entrySize = 1050;
        in.curMenu = 1;
        const MenuLayoutResult open1 = LayoutMenuPositions(in);
        QCOMPARE(open1.firstEntry, 3);
        QCOMPARE(open1.entries, QVector<QPoint>({{755, 1790}, {755, 1790 + 1250}}));
        // Both fit in the drawer.
        QVERIFY(open1.entries.last().y() + in.entrySize <= open1.drawerTop + in.drawerHeight);
        in.curMenu = 0;
        QCOMPARE(LayoutMenuPositions(in).entries.size(), 3);
    }

    void theEntryOpensThePage() {
        TempStore store;
        ProgramVars vars;
        vars.CurWeekName = "星期一";
        FakePlayer player;
        SettingsState state;
        QVERIFY(store.conn->AddSpecialDays({{0, "2030-10-01", kNoBellsKind, "国庆"}}));
        SettingForm form(vars, *store.conn, player, state);
        form.show();
        auto* entry = form.findChild<MyButton*>("MenuGroup(4)");
        QVERIFY(entry);
        QCOMPARE(entry->BtCaption(), QString("特殊日期"));
        QCOMPARE(entry->Style(), 7);
        QVERIFY(!entry->isVisible());
        form.OpenHeading(1);
        QVERIFY(entry->isVisible());
        QCOMPARE(entry->pos(), QPoint(Px(755), Px(3040)));
        QTest::mouseClick(entry, Qt::LeftButton, {}, entry->rect().center());
        QCOMPARE(form.CurGroup(), 4);
        auto* page = form.findChild<SpecialDaysPage*>("Frame(4)");
        QVERIFY(page && page->isVisible());
        QCOMPARE(page->geometry(), QRect(Px(2200), Px(700), Px(8000), Px(4900)));
        QCOMPARE(page->findChild<QTableWidget*>("Grid_SpecialDays")->rowCount(), 1);
        QVERIFY(!Art("icon6", QSize(32, 32)).isNull());
    }

    // With BELVORAN_SCREENSHOT_SPECIAL=FILE.png (under a real X server) saves a picture of the
    // settings window on this page, for a person to look at.
    void screenshot() {
        const QString file = qEnvironmentVariable("BELVORAN_SCREENSHOT_SPECIAL");
        if (file.isEmpty()) {
            QSKIP("BELVORAN_SCREENSHOT_SPECIAL is not set");
        }
        QFont font(UiFontFamily());
        font.setPixelSize(12);
        QApplication::setFont(font);
        TempStore store;
        ProgramVars vars;
        vars.CurWeekName = "星期一";
        FakePlayer player;
        SettingsState state;
        QVector<SpecialDayRow> rows = {{0, "2026-09-01", kNoBellsKind, "开学典礼"},
                                       {0, "2026-09-27", "星期一", "调休上课"}};
        for (int d = 1; d <= 7; ++d) {
            rows.push_back({0, QDate(2026, 10, d).toString("yyyy-MM-dd"), kNoBellsKind, "国庆节"});
        }
        rows.push_back({0, "2026-10-10", "星期五", "调休上课"});
        QVERIFY(store.conn->AddSpecialDays(rows));
        SettingForm form(vars, *store.conn, player, state);
        auto* page = form.findChild<SpecialDaysPage*>("Frame(4)");
        page->Today = [] { return QDate(2026, 9, 28); };
        form.show();
        form.OpenHeading(1);
        form.SelectPage(4);
        page->findChild<QLineEdit*>("Text_Note")->setText("运动会");
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(Settle()); // layouts and repaints still queued
        QVERIFY(form.grab().save(file));
    }
};

QTEST_MAIN(TestSpecialDaysPage)
#include "test_holidays_page.moc"
