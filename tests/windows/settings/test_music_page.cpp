// SPDX-License-Identifier: GPL-3.0-or-later
// The break-music libraries page on a real store, measuring files the test makes.
#include "core/time_text.h"
#include "page_rig.h"
#include "widgets/my_button.h"
#include "windows/settings/music_page.h"

#include <QLineEdit>
#include <QProgressDialog>
#include <QTimer>

namespace {

struct Rig : PageRig {
    Rig() : page(new MusicPage(ctx, &host)) {
        gst_init(nullptr, nullptr);
        page->Ask = ask.Fn();
        page->ChooseFiles = [this](QWidget*) {
            ++chooserOpened;
            return chosen;
        };
        host.show();
        page->Load();
    }
    template <typename T> T* Find(const QString& name) { return page->findChild<T*>(name); }
    QListWidget* List() { return Find<QListWidget>("List1"); }
    MyButton* Button(const QString& name) { return Find<MyButton>(name); }
    QStringList Items() {
        QStringList out;
        for (int i = 0; i < List()->count(); ++i) {
            out << List()->item(i)->text();
        }
        return out;
    }
    void Create(const QString& typed) {
        Find<QLineEdit>("Text1")->setText(typed);
        Click(Button("MyBt_AddGroup"));
    }
    // Clicked, as a person picks a library.
    void Select(int row) {
        const QRect item = List()->visualItemRect(List()->item(row));
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, item.center());
    }
    QString ConfigList() {
        QString text;
        store.conn->ReadLibraryList(&text);
        return text;
    }
    QStringList Songs() { return Column(page->Grid(), "音乐文件"); }

    MusicPage* page;
    QStringList chosen;
    int chooserOpened = 0;
};

} // namespace

class TestMusicPage : public QObject {
    Q_OBJECT

private slots:
    void firstAndSecondLibrary() {
        Rig r;
        QVERIFY(!r.Button("Mybt_AddMusic")->Enabled());
        QVERIFY(!r.Button("Mybt_DelMusic")->Enabled());
        r.Create("A");
        QCOMPARE(r.ConfigList(), QString("曲库_A"));
        QCOMPARE(r.vars.ClassMusicArr, QStringList{"曲库_A"});
        QVERIFY(r.Button("Mybt_AddMusic")->Enabled());
        QVERIFY(!r.Button("Mybt_DelMusic")->Enabled());
        r.Create("B");
        QCOMPARE(r.ConfigList(), QString("曲库_A|曲库_B"));
        QCOMPARE(r.vars.ClassMusicArr, (QStringList{"曲库_A", "曲库_B"}));
        QCOMPARE(r.List()->currentItem()->text(), QString("曲库_B"));
        QVERIFY(r.ask.asked.isEmpty());
    }

    void blankAndDuplicateNamesAreRefusedWithNothingWritten() {
        Rig r;
        r.Create("   ");
        QCOMPARE(r.ask.Texts(), QStringList{"请写一个合适的曲库名吧！?"});
        QCOMPARE(r.ConfigList(), QString(""));
        r.Create("A");
        r.Create("A");
        QCOMPARE(r.ask.Texts().last(), QString("该曲库名已经有了，换一个吧！"));
        QCOMPARE(r.ConfigList(), QString("曲库_A"));
        QCOMPARE(r.Items(), QStringList{"曲库_A"});
    }

    void aNameWithBlanksAroundIsStoredAsTyped() {
        Rig r;
        r.Create(" 午间 ");
        QCOMPARE(r.ConfigList(), QString("曲库_ 午间 "));
    }

    void namesWithQuotesWork() {
        Rig r;
        r.Create("it's \"ours\"");
        QCOMPARE(r.ConfigList(), QString("曲库_it's \"ours\""));
        r.chosen = {r.Media("a'b\"c.wav", 2)};
        r.Click(r.Button("Mybt_AddMusic"));
        QCOMPARE(r.Songs(), r.chosen);
        r.ask.asked.clear();
        r.Click(r.Button("MyButton3"));
        QCOMPARE(r.ConfigList(), QString(""));
        QVERIFY(r.store.LibrarySongs("曲库_it's \"ours\"").isEmpty());
    }

    void aSeparatorInANameIsRefused() {
        Rig r;
        r.Create("a|b");
        QCOMPARE(r.ask.asked.size(), 1);
        QCOMPARE(r.ConfigList(), QString(""));
        QVERIFY(r.Items().isEmpty());
    }

    void deletingTheMiddleOfThree() {
        Rig r;
        r.Create("A");
        r.Create("B");
        r.Create("C");
        r.Select(1);
        r.Click(r.Button("MyButton3"));
        QCOMPARE(r.ask.asked.value(0).text, QString("真的要删除该曲库吗?"));
        QCOMPARE(r.ask.asked.value(0).mode, MsgMode::Confirm);
        QCOMPARE(r.ConfigList(), QString("曲库_A|曲库_C"));
        QCOMPARE(r.Items(), (QStringList{"曲库_A", "曲库_C"}));
        QCOMPARE(r.vars.ClassMusicArr, (QStringList{"曲库_A", "曲库_C"}));
        // Nothing is selected afterwards, so nothing can be added to a vanished library.
        QVERIFY(!r.Button("Mybt_AddMusic")->Enabled());
    }

    void aFailedDeleteShowsWhyAndChangesNothing() {
        Rig r;
        r.Create("A");
        r.store.AddEvent({0, "星期一", "曲库_A", "10:00:00", "课间音乐", "", "√", "", ""});
        r.store.AddSong("曲库_A", "/m/a.mp3", "00:01:00");
        r.store.Raw("CREATE TRIGGER refuse BEFORE DELETE ON 课间音乐 BEGIN SELECT "
                    "RAISE(ABORT, 'disk is read-only'); END");
        r.Click(r.Button("MyButton3"));
        QCOMPARE(r.ask.asked.size(), 2); // the question, then the reason
        QVERIFY(r.ask.asked[1].text.contains("disk is read-only"));
        QCOMPARE(r.ConfigList(), QString("曲库_A"));
        QCOMPARE(r.Items(), QStringList{"曲库_A"});
        QCOMPARE(r.vars.ClassMusicArr, QStringList{"曲库_A"});
        QCOMPARE(r.store.TodayEvents("星期一", "00:00:00").size(), 1);
    }

    void refusingTheQuestionKeepsTheLibrary() {
        Rig r;
        r.Create("A");
        r.ask.yes = false;
        r.Click(r.Button("MyButton3"));
        QCOMPARE(r.ConfigList(), QString("曲库_A"));
        QCOMPARE(r.Items(), QStringList{"曲库_A"});
    }

    void deletingTheOnlyOneEmptiesTheGridAndDisablesBothButtons() {
        Rig r;
        r.Create("A");
        r.chosen = {r.Media("one.wav", 2)};
        r.Click(r.Button("Mybt_AddMusic"));
        QCOMPARE(r.Songs().size(), 1);
        QVERIFY(r.Button("Mybt_DelMusic")->Enabled());
        r.Click(r.Button("MyButton3"));
        QCOMPARE(r.ConfigList(), QString(""));
        QVERIFY(r.page->Grid()->IsEmpty());
        QVERIFY(!r.Button("Mybt_AddMusic")->Enabled());
        QVERIFY(!r.Button("Mybt_DelMusic")->Enabled());
        QVERIFY(r.vars.ClassMusicArr.isEmpty());
    }

    void aLibrarysScheduleRowsGoOnEveryWeekday() {
        Rig r;
        r.Create("A");
        r.Create("B");
        for (const QString& day : WeekdayNames()) {
            r.store.AddEvent({0, day, "曲库_A", "10:00:00", "课间音乐", "", "√", "", ""});
            r.store.AddEvent({0, day, "曲库_B", "11:00:00", "课间音乐", "", "√", "", ""});
        }
        r.Select(0);
        r.Click(r.Button("MyButton3"));
        QVector<EventRow> rows;
        QVERIFY(r.store.conn->AllEvents(&rows));
        QCOMPARE(rows.size(), 7);
        for (const EventRow& e : rows) {
            QCOMPARE(e.event, QString("曲库_B"));
        }
    }

    void oneFileAndThreeFilesAreAddedWithTheirLengths() {
        Rig r;
        r.Create("A");
        r.chosen = {r.Media("first.mp3", 205)};
        r.Click(r.Button("Mybt_AddMusic"));
        QCOMPARE(r.Songs(), r.chosen);
        QCOMPARE(Rig::Column(r.page->Grid(), "音乐总长"), QStringList{"00:03:25"});
        const QStringList three = {r.Media("two.ogg", 61), r.Media("three.wav", 3),
                                   r.Media("four.mid", 3600)};
        r.chosen = three;
        r.Click(r.Button("Mybt_AddMusic"));
        QCOMPARE(r.Songs(), QStringList{r.Media("first.mp3", 0)} + three);
        QCOMPARE(Rig::Column(r.page->Grid(), "音乐总长"),
                 (QStringList{"00:03:25", "00:01:01", "00:00:03", "01:00:00"}));
        const auto stored = r.store.LibrarySongs("曲库_A");
        QCOMPARE(stored.size(), 4);
        QCOMPARE(stored[3].group, QString("曲库_A"));
        QVERIFY(r.Button("Mybt_DelMusic")->Enabled());
        QVERIFY(r.ask.asked.isEmpty());
    }

    void aFileThatIsNotSoundIsLeftOutAndListed() {
        Rig r;
        r.Create("A");
        const QString bad = r.Text("notes.mp3", "a shopping list, not a song\n");
        const QString bad2 = r.Text("empty.wav", "");
        const QString good = r.Media("good.wav", 4);
        r.chosen = {bad, good, bad2};
        r.Click(r.Button("Mybt_AddMusic"));
        QCOMPARE(r.Songs(), QStringList{good});
        QCOMPARE(r.ask.asked.size(), 1);
        QVERIFY(r.ask.asked[0].text.contains(bad));
        QVERIFY(r.ask.asked[0].text.contains(bad2));
        QVERIFY(!r.ask.asked[0].text.contains(good));
    }

    void cancellingTheChooserAddsNothing() {
        Rig r;
        r.Create("A");
        r.chosen = {};
        r.Click(r.Button("Mybt_AddMusic"));
        QCOMPARE(r.chooserOpened, 1);
        QVERIFY(r.store.LibrarySongs("曲库_A").isEmpty());
    }

    void cancellingTheMeasurementAddsNothing() {
        Rig r;
        r.Create("A");
        const QString one = r.Media("one.ogg", 2);
        r.chosen.clear();
        for (int i = 0; i < 60; ++i) {
            r.chosen << one;
        }
        bool sawDialog = false;
        // Runs inside the progress dialog's event processing and presses its cancel.
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* p = qobject_cast<QProgressDialog*>(w);
                    p && p->objectName() == "Progress_AddMusic") {
                    sawDialog = true;
                    p->cancel();
                }
            }
        });
        r.Click(r.Button("Mybt_AddMusic"));
        QVERIFY(sawDialog);
        QVERIFY(r.store.LibrarySongs("曲库_A").isEmpty());
        QVERIFY(r.page->Grid()->IsEmpty());
        QVERIFY(r.ask.asked.isEmpty());
    }

    void theDeleteButtonAndKeyRemoveSelectedSongs() {
        Rig r;
        r.Create("A");
        r.chosen = {r.Media("1.wav", 1), r.Media("2.wav", 1), r.Media("3.wav", 1)};
        r.Click(r.Button("Mybt_AddMusic"));
        r.page->Grid()->SelectId(r.store.LibrarySongs("曲库_A")[0].id);
        r.Click(r.Button("Mybt_DelMusic"));
        QCOMPARE(r.ask.asked.value(0).text, QString("真的要删除“1.wav”吗？"));
        QCOMPARE(r.Songs().size(), 2);
        r.page->Grid()->SelectId(r.store.LibrarySongs("曲库_A")[0].id);
        r.PressDelete(r.page->Grid());
        QCOMPARE(r.Songs(), QStringList{r.chosen[2]});
    }

    void loadListsTheLibrariesAndShowsTheFirst() {
        Rig r;
        r.store.conn->CreateLibrary("曲库_X");
        r.store.conn->CreateLibrary("曲库_Y");
        r.store.AddSong("曲库_X", "/m/x.mp3", "00:01:00");
        SetClassMusicArr(r.vars, *r.store.conn);
        r.page->Load();
        QCOMPARE(r.Items(), (QStringList{"曲库_X", "曲库_Y"}));
        QCOMPARE(r.Songs(), QStringList{"/m/x.mp3"});
        QVERIFY(r.Button("Mybt_AddMusic")->Enabled());
        QVERIFY(r.Button("Mybt_DelMusic")->Enabled());
        r.Select(1);
        QVERIFY(r.page->Grid()->IsEmpty());
        QVERIFY(r.Button("Mybt_AddMusic")->Enabled());
        QVERIFY(!r.Button("Mybt_DelMusic")->Enabled());
    }

    void withoutLibrariesEverySongIsListed() {
        Rig r;
        r.store.AddSong("曲库_old", "/m/old.mp3", "00:01:00");
        r.page->Load();
        QCOMPARE(r.Songs(), QStringList{"/m/old.mp3"});
        QVERIFY(!r.Button("Mybt_AddMusic")->Enabled());
    }
};

QTEST_MAIN(TestMusicPage)
#include "test_music_page.moc"
