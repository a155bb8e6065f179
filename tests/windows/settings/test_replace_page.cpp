// SPDX-License-Identifier: GPL-3.0-or-later
// The rain replacement music page on a real store, measuring files the test makes; and the
// running schedule picking up a replacement added a moment ago.
#include "core/time_text.h"
#include "page_rig.h"
#include "schedule/schedule_engine.h"
#include "widgets/my_button.h"
#include "windows/settings/replace_page.h"

#include <QLabel>
#include <QLineEdit>

namespace {

struct Rig : PageRig {
    Rig() : page(new ReplacePage(ctx, &host)) {
        gst_init(nullptr, nullptr);
        page->Ask = ask.Fn();
        page->ChooseFile = [this](QWidget*) {
            ++chooserOpened;
            return chosen.isEmpty() ? QString() : chosen.takeFirst();
        };
        host.show();
        page->Load();
    }
    template <typename T> T* Find(const QString& name) { return page->findChild<T*>(name); }
    MyButton* Button(const QString& name) { return Find<MyButton>(name); }
    QLineEdit* NameBox() { return Find<QLineEdit>("Text_ReplaceName"); }
    QString LengthText() { return Find<QLabel>("Lab_ReplaceMusicLength")->text(); }
    QString PathText() { return Find<QLabel>("Lab_ReplacePath")->text(); }
    // Types a name, browses to file and adds.
    void Add(const QString& name, const QString& file) {
        NameBox()->setText(name);
        chosen = {file};
        Click(Button("MyBt_ReplaceMusic"));
        Click(Button("MyBt_AddReplaceMusic"));
    }
    qint64 Event(const QString& day, const QString& replace) {
        return store.AddEvent(
            {0, day, "上课", "08:00:00", "/m/bell.wav", "00:00:05", "√", replace, ""});
    }
    QStringList Replaces() {
        QVector<EventRow> rows;
        store.conn->AllEvents(&rows);
        QStringList out;
        for (const EventRow& e : rows) {
            out << e.replace;
        }
        return out;
    }
    QStringList Names() { return Column(page->Grid(), "替代名称"); }

    ReplacePage* page;
    QStringList chosen;
    int chooserOpened = 0;
};

} // namespace

class TestReplacePage : public QObject {
    Q_OBJECT

private slots:
    void startsWithItsCaptions() {
        Rig r;
        QCOMPARE(r.NameBox()->text(), QString("输入替代音乐名"));
        QCOMPARE(r.LengthText(), QString("音乐长度"));
        QCOMPARE(r.PathText(), QString());
        QVERIFY(r.page->Grid()->IsEmpty());
        QVERIFY(!r.Button("MyBt_DelReplaceMusic")->Enabled());
    }

    void addingStormWithA205SecondFile() {
        Rig r;
        r.store.AddReplace("小雨", "/m/s.mp3", "00:01:00");
        r.page->Load();
        const QString file = r.Media("storm.mp3", 205);
        r.NameBox()->setText("雷雨");
        r.chosen = {file};
        r.Click(r.Button("MyBt_ReplaceMusic"));
        QCOMPARE(r.LengthText(), QString("00:03:25"));
        QCOMPARE(r.PathText(), file);
        r.Click(r.Button("MyBt_AddReplaceMusic"));
        const auto rows = r.store.ReplaceRows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[1].name, QString("雷雨"));
        QCOMPARE(rows[1].file, file);
        QCOMPARE(rows[1].length, QString("00:03:25"));
        QCOMPARE(r.Names(), (QStringList{"小雨", "雷雨"}));
        QCOMPARE(Rig::Column(r.page->Grid(), "音乐总长").last(), QString("00:03:25"));
        QCOMPARE(r.NameBox()->text(), QString("请输入替代音乐名"));
        QCOMPARE(r.PathText(), QString());
        QCOMPARE(r.LengthText(), QString("00:03:25"));
        QCOMPARE(r.vars.ReplaceMusicArr.size(), 2);
        QCOMPARE(r.vars.ReplaceMusicArr[1].file, file);
        QVERIFY(r.Button("MyBt_DelReplaceMusic")->Enabled());
        QVERIFY(r.ask.asked.isEmpty());
    }

    void addWithoutAFileAsksAndOpensTheChooserAtOnce() {
        Rig r;
        r.NameBox()->setText("雷雨");
        r.chosen = {r.Media("storm.wav", 3)};
        r.Click(r.Button("MyBt_AddReplaceMusic"));
        QCOMPARE(r.ask.Texts(), QStringList{"请为该替代事件选择一个替代音乐吧！"});
        QCOMPARE(r.chooserOpened, 1);
        QCOMPARE(r.store.ReplaceRows().size(), 1);
        QCOMPARE(r.store.ReplaceRows()[0].length, QString("00:00:03"));
    }

    void addWithoutAFileAndCancelWritesNothing() {
        Rig r;
        r.NameBox()->setText("雷雨");
        r.Click(r.Button("MyBt_AddReplaceMusic"));
        QCOMPARE(r.chooserOpened, 1);
        QVERIFY(r.store.ReplaceRows().isEmpty());
    }

    void cancelledBrowseKeepsTheLengthOfTheChosenFile() {
        Rig r;
        const QString file = r.Media("storm.wav", 7);
        r.chosen = {file};
        r.Click(r.Button("MyBt_ReplaceMusic"));
        r.Click(r.Button("MyBt_ReplaceMusic")); // cancelled
        QCOMPARE(r.PathText(), file);
        QCOMPARE(r.LengthText(), QString("00:00:07"));
    }

    void aFileThatIsNotSoundIsNotTaken() {
        Rig r;
        r.chosen = {r.Text("notes.mp3", "not a song")};
        r.Click(r.Button("MyBt_ReplaceMusic"));
        QCOMPARE(r.ask.asked.size(), 1);
        QCOMPARE(r.PathText(), QString());
        QCOMPARE(r.LengthText(), QString("音乐长度"));
    }

    void anEmptyNameIsRefused() {
        Rig r;
        QLineEdit other(&r.host);
        other.show();
        r.host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&r.host));
        r.NameBox()->setFocus();
        r.NameBox()->setText("  ");
        other.setFocus(Qt::TabFocusReason);
        QCOMPARE(r.ask.Texts(), QStringList{"请输入一个替代事件名称！"});
        QVERIFY(r.NameBox()->hasFocus());
        // Pressing add with the empty name does not store it either.
        r.chosen = {r.Media("storm.wav", 2)};
        r.Click(r.Button("MyBt_ReplaceMusic"));
        r.Click(r.Button("MyBt_AddReplaceMusic"));
        QVERIFY(r.store.ReplaceRows().isEmpty());
    }

    void deletingTheOnlyStormClearsEveryEventsStorm() {
        Rig r;
        r.Add("雷雨", r.Media("storm.wav", 2));
        r.Add("小雨", r.Media("drizzle.wav", 2));
        r.Event("星期一", "雷雨");
        r.Event("星期五", "雷雨");
        r.Event("星期五", "小雨");
        r.page->Grid()->SelectId(r.store.ReplaceRows()[0].id);
        r.Click(r.Button("MyBt_DelReplaceMusic"));
        QCOMPARE(r.ask.asked.value(0).text, QString("真的要删除“雷雨”吗？"));
        QCOMPARE(r.Replaces(), (QStringList{"", "", "小雨"}));
        QCOMPARE(r.Names(), QStringList{"小雨"});
        QCOMPARE(r.vars.ReplaceMusicArr.size(), 1);
        QCOMPARE(r.vars.ReplaceMusicArr[0].name, QString("小雨"));
    }

    void deletingOneOfTwoStormsClearsNothing() {
        Rig r;
        r.Add("雷雨", r.Media("storm1.wav", 2));
        r.Add("雷雨", r.Media("storm2.wav", 2));
        r.Event("星期一", "雷雨");
        r.page->Grid()->SelectId(r.store.ReplaceRows()[0].id);
        r.Click(r.Button("MyBt_DelReplaceMusic"));
        QCOMPARE(r.Replaces(), QStringList{"雷雨"});
        QCOMPARE(r.vars.ReplaceMusicArr.size(), 1);
    }

    void theDeleteKeyDoesWhatTheButtonDoes() {
        Rig r;
        r.Add("雷雨", r.Media("storm.wav", 2));
        r.Event("星期二", "雷雨");
        r.page->Grid()->SelectId(r.store.ReplaceRows()[0].id);
        r.PressDelete(r.page->Grid());
        QCOMPARE(r.ask.asked.size(), 1);
        QVERIFY(r.store.ReplaceRows().isEmpty());
        QCOMPARE(r.Replaces(), QStringList{""});
        QVERIFY(r.vars.ReplaceMusicArr.isEmpty());
        QVERIFY(!r.Button("MyBt_DelReplaceMusic")->Enabled());
    }

    void aFailedDeleteShowsWhyAndChangesNothing() {
        Rig r;
        r.Add("雷雨", r.Media("storm.wav", 2));
        r.Event("星期二", "雷雨");
        r.store.Raw("CREATE TRIGGER refuse BEFORE UPDATE ON 作息表 BEGIN SELECT "
                    "RAISE(ABORT, 'disk is read-only'); END");
        r.Click(r.Button("MyBt_DelReplaceMusic"));
        QCOMPARE(r.ask.asked.size(), 2); // the question, then the reason
        QVERIFY(r.ask.asked[1].text.contains("disk is read-only"));
        QCOMPARE(r.store.ReplaceRows().size(), 1);
        QCOMPARE(r.Names(), QStringList{"雷雨"});
        QCOMPARE(r.Replaces(), QStringList{"雷雨"});
        QCOMPARE(r.vars.ReplaceMusicArr.size(), 1);
    }

    void refusingTheQuestionTouchesNothing() {
        Rig r;
        r.Add("雷雨", r.Media("storm.wav", 2));
        r.Event("星期二", "雷雨");
        r.ask.yes = false;
        r.Click(r.Button("MyBt_DelReplaceMusic"));
        QCOMPARE(r.store.ReplaceRows().size(), 1);
        QCOMPARE(r.Replaces(), QStringList{"雷雨"});
        QCOMPARE(r.vars.ReplaceMusicArr.size(), 1);
    }

    void namesWithQuotes() {
        Rig r;
        const QString name = "it's \"heavy\"";
        const QString file = r.Media("a'b\"c.wav", 2);
        r.Add(name, file);
        QCOMPARE(r.store.ReplaceRows().value(0).name, name);
        QCOMPARE(r.store.ReplaceRows().value(0).file, file);
        r.Event("星期三", name);
        r.page->Grid()->SelectId(r.store.ReplaceRows()[0].id);
        r.Click(r.Button("MyBt_DelReplaceMusic"));
        QCOMPARE(r.Replaces(), QStringList{""});
    }

    void theRunningEnginePlaysAReplacementAddedAMomentAgo() {
        Rig r;
        FakeClock clock(QDateTime(QDate(2026, 12, 7), QTime(7, 59, 50))); // a Monday
        FakePlayer player(&clock);
        FakePrompt prompt;
        ScheduleEngine engine(r.vars, *r.store.conn, clock, player, &prompt);
        engine.SetTimerDriven(false);
        r.vars.RainMode = true;
        r.Event(WeekdayName(clock.Now().date()), "雷雨");
        engine.LoadTodayEvents();
        QVERIFY(engine.Armed());

        const QString storm = r.Media("storm.wav", 3);
        r.Add("雷雨", storm);
        while (clock.Now().time() < QTime(8, 0, 1)) {
            clock.Advance(1);
            engine.Tick();
        }
        QCOMPARE(player.plays, QStringList{storm});
    }
};

QTEST_MAIN(TestReplacePage)
#include "test_replace_page.moc"
