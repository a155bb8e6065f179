// SPDX-License-Identifier: GPL-3.0-or-later
// The options page on a real store, with the start-with-the-desktop entry written into a
// temporary XDG_CONFIG_HOME (never the real autostart folder).
#include "core/program_vars.h"
#include "schedule/break_music.h"
#include "store/conn.h"
#include "support/desktop_entry.h"
#include "support/fake_autostart.h"
#include "support/fakes.h"
#include "support/settle.h"
#include "support/temp_store.h"
#include "system/autostart.h"
#include "widgets/message_box.h"
#include "widgets/my_button.h"
#include "widgets/ui_font.h"
#include "windows/settings/options_page.h"
#include "windows/settings/settings_context.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <glib.h>
#include <unistd.h>

using namespace desktop_entry;

namespace {

// A store, the program's variables, a player and the page, as the settings window holds them.
struct Rig {
    // collectNotices: the test reads the notices instead of the program's message box.
    explicit Rig(bool collectNotices = true)
        : player(&clock), ctx{vars, *store.conn, player, state}, page(ctx) {
        if (collectNotices) {
            page.Notify = [this](const QString& text) { notices << text; };
        }
        page.show();
    }
    template <typename W> W* Get(const QString& name) {
        W* w = page.findChild<W*>(name);
        if (!w) {
            qFatal("no control %s", qPrintable(name));
        }
        return w;
    }
    QCheckBox* Box(const QString& name) { return Get<QCheckBox>(name); }
    QRadioButton* Order(int i) {
        return Get<QRadioButton>(QString("Option_PlaySequence(%1)").arg(i));
    }
    QLineEdit* TimeBox() { return Get<QLineEdit>("Text_ShutDownTime"); }
    void Click(QAbstractButton* b) {
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
    }
    void Apply() {
        MyButton* b = Get<MyButton>("MyBt_Apply");
        QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
    }
    ConfigRow Stored() {
        ConfigRow row;
        QString error;
        if (!store.conn->ReadConfig(&row, &error)) {
            qFatal("cannot read config: %s", qPrintable(error));
        }
        return row;
    }

    TempStore store;
    ProgramVars vars;
    FakeClock clock;
    FakePlayer player;
    SettingsState state;
    SettingsContext ctx;
    OptionsPage page;
    QStringList notices;
};

// The argv GLib would start from an entry's Exec line, parsed as the desktop does.
QStringList ExecArgv(const QString& entry) {
    GKeyFile* file = g_key_file_new();
    QStringList out;
    if (g_key_file_load_from_file(file, QFile::encodeName(entry).constData(), G_KEY_FILE_NONE,
                                  nullptr)) {
        gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
        gchar** argv = nullptr;
        if (exec && g_shell_parse_argv(exec, nullptr, &argv, nullptr)) {
            for (gchar** a = argv; *a; ++a) {
                out << QString::fromUtf8(*a).replace("%%", "%");
            }
            g_strfreev(argv);
        }
        g_free(exec);
    }
    g_key_file_free(file);
    return out;
}

} // namespace

class TestOptionsPage : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> xdg;
    QString EntryPath() const { return xdg->path() + "/config/autostart/Belvoran.desktop"; }

private slots:
    void init() {
        xdg.reset(new QTemporaryDir);
        QVERIFY(xdg->isValid());
        // HOME too, so that even a fault could never reach the real ~/.config.
        qputenv("HOME", QFile::encodeName(xdg->path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdg->path() + "/config"));
        QCOMPARE(XdgAutostart::EntryPath(), EntryPath());
    }
    void cleanup() { xdg.reset(); }

    void controlsCarryTheirCaptions() {
        Rig rig;
        rig.page.Load();
        QCOMPARE(rig.page.objectName(), QString("Frame(3)"));
        QCOMPARE(rig.Order(0)->text(), QString("顺序播放"));
        QCOMPARE(rig.Order(1)->text(), QString("重复单曲"));
        QCOMPARE(rig.Order(2)->text(), QString("随机播放"));
        QCOMPARE(rig.Get<QGroupBox>("Frm_setplay")->title(), QString("播放设置"));
        QCOMPARE(rig.Get<QGroupBox>("Frm_FinishSet")->title(), QString("开机/关机设置"));
        QCOMPARE(rig.Get<MyButton>("MyBt_Apply")->BtCaption(), QString("应用"));
        QVERIFY(rig.Order(0)->isChecked());
        QVERIFY(rig.Order(0)->x() < rig.Order(1)->x() && rig.Order(1)->x() < rig.Order(2)->x());
        QCOMPARE(rig.TimeBox()->text(), QString("00:00:00"));
        QVERIFY(!rig.TimeBox()->isEnabled());
        QVERIFY(rig.notices.isEmpty());
    }

    void storedShutdownTimeLoadsTickedAndShown() {
        Rig rig;
        rig.store.Raw("UPDATE config SET 关机时间 = '17:30:00'");
        rig.page.Load();
        QVERIFY(rig.Box("Check_ShutDown")->isChecked());
        QCOMPARE(rig.TimeBox()->text(), QString("17:30:00"));
        QVERIFY(rig.TimeBox()->isEnabled());
    }

    void untickedShutdownStoresNoShutdownAndShowsIt() {
        Rig rig;
        rig.store.Raw("UPDATE config SET 关机时间 = '17:30:00'");
        rig.vars.ShutDownTime = "17:30:00";
        rig.page.Load();
        rig.Click(rig.Box("Check_ShutDown"));
        QVERIFY(!rig.Box("Check_ShutDown")->isChecked());
        QCOMPARE(rig.TimeBox()->text(), QString("17:30:00")); // until apply
        rig.Apply();
        QCOMPARE(rig.Stored().shutDownTime, QString("00:00:00"));
        QCOMPARE(rig.TimeBox()->text(), QString("00:00:00"));
        QCOMPARE(rig.vars.ShutDownTime, QString("00:00:00"));
        QVERIFY(rig.notices.isEmpty());
    }

    void tickingEnablesTheTimeBoxAndUntickingDisablesIt() {
        Rig rig;
        rig.page.Load();
        QVERIFY(!rig.TimeBox()->isEnabled());
        rig.Click(rig.Box("Check_ShutDown"));
        QVERIFY(rig.TimeBox()->isEnabled());
        rig.Click(rig.Box("Check_ShutDown"));
        QVERIFY(!rig.TimeBox()->isEnabled());
    }

    void aTypedShutdownTimeIsStoredAndRunsAtOnce() {
        Rig rig;
        rig.page.Load();
        rig.Click(rig.Box("Check_ShutDown"));
        rig.TimeBox()->setFocus();
        QTRY_VERIFY(rig.TimeBox()->hasFocus());
        for (char c : QByteArray("173000")) {
            QTest::keyClick(rig.TimeBox(), c);
        }
        QCOMPARE(rig.TimeBox()->text(), QString("17:30:00"));
        rig.Apply();
        QCOMPARE(rig.Stored().shutDownTime, QString("17:30:00"));
        QCOMPARE(rig.vars.ShutDownTime, QString("17:30:00"));
    }

    void applyStoresEveryOption() {
        Rig rig;
        rig.page.Load();
        rig.Click(rig.Order(2));
        rig.Click(rig.Box("Check_Replace"));
        rig.Click(rig.Box("Check_TuoPang"));
        FakeAutostart autostart;
        rig.page.SetAutostart(&autostart);
        rig.Click(rig.Box("Check_StartEndSet"));
        rig.Apply();
        const ConfigRow row = rig.Stored();
        QCOMPARE(row.playOrder, PlayOrder::Random);
        QVERIFY(row.rememberRain);
        QVERIFY(row.minToTray);
        QVERIFY(row.startWithSystem);
        QCOMPARE(row.shutDownTime, QString("00:00:00"));
        QCOMPARE(rig.vars.PlayOrder, PlayOrder::Random);
        QVERIFY(rig.vars.MinToTray);
        QVERIFY(autostart.present);
        QVERIFY(rig.notices.isEmpty());
        // A copy that is not installed (run from its build folder) is started: said.
        autostart.uninstalled = "/home/it/belvoran/build/app/belvoran";
        rig.Apply();
        QCOMPARE(rig.notices.size(), 1);
        QVERIFY(rig.notices[0].contains("没有安装的程序 /home/it/belvoran/build/app/belvoran"));
    }

    // Options changed and not applied are asked about when the window closes, and 应用 says
    // that it worked.
    void changesNotAppliedAreAskedAboutAndApplyShowsIt() {
        Rig rig;
        FakeAutostart autostart;
        rig.page.SetAutostart(&autostart);
        rig.store.Raw("UPDATE config SET 播放顺序=1");
        QVERIFY(!rig.page.Pending()); // never shown: nothing to ask about
        rig.page.Load();
        QStringList asked;
        bool answer = false;
        rig.page.Ask = [&](const QString& text) {
            asked << text;
            return answer;
        };
        QVERIFY(rig.page.SettleBeforeClosing());
        QVERIFY(asked.isEmpty()); // nothing changed
        rig.Click(rig.Order(0));
        QVERIFY(rig.page.SettleBeforeClosing()); // dropped
        QCOMPARE(asked.size(), 1);
        QCOMPARE(rig.Stored().playOrder, PlayOrder::RepeatOne);
        rig.Click(rig.Order(2));
        answer = true;
        QVERIFY(rig.page.SettleBeforeClosing()); // applied
        QCOMPARE(rig.Stored().playOrder, PlayOrder::Random);
        rig.Click(rig.Order(0));
        rig.Apply();
        QVERIFY(rig.Get<QLabel>("Lab_Applied")->text().startsWith("已应用 "));
        QVERIFY(rig.page.SettleBeforeClosing());
        QCOMPARE(asked.size(), 2);
    }

    // Break music plays song 1, then 2; "重复单曲" applied meanwhile makes every later song
    // the same one.
    void repeatOneStoresOneAndTheRunningBreakMusicRepeatsOneSong() {
        Rig rig;
        QStringList songs;
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
            songs << rig.store.dir.path() + "/" + name;
            QFile(songs.last()).open(QIODevice::WriteOnly); // the player is a fake
            QVERIFY(rig.store.AddSong("曲库_课间", songs.last(), "00:03:00") > 0);
        }
        BreakMusic music(rig.vars, *rig.store.conn, rig.player);
        music.StartBreakMusic("曲库_课间");
        rig.player.Finish();
        QCOMPARE(rig.player.plays, songs.mid(0, 2));

        rig.page.Load();
        rig.Click(rig.Order(1));
        rig.Apply();
        QCOMPARE(rig.Stored().playOrder, PlayOrder::RepeatOne);
        QCOMPARE(rig.vars.PlayOrder, PlayOrder::RepeatOne);

        rig.player.plays.clear();
        for (int i = 0; i < 3; ++i) {
            rig.player.Finish();
        }
        QCOMPARE(rig.player.plays.size(), 3);
        QCOMPARE(rig.player.plays.count(rig.player.plays.first()), 3);
    }

    void returningWithoutApplyRereadsTheStore() {
        Rig rig;
        rig.store.Raw("UPDATE config SET 播放顺序 = 2, 开机启动 = 0");
        rig.page.Load();
        QVERIFY(rig.Order(2)->isChecked());
        rig.Click(rig.Order(0));
        rig.Click(rig.Box("Check_StartEndSet"));
        rig.Click(rig.Box("Check_Replace"));
        rig.Click(rig.Box("Check_TuoPang"));
        rig.Click(rig.Box("Check_ShutDown"));
        rig.page.hide(); // another page is selected, then this one again
        rig.page.show();
        rig.page.Load();
        QVERIFY(rig.Order(2)->isChecked());
        QVERIFY(!rig.Box("Check_StartEndSet")->isChecked());
        // These boxes are only ever ticked by loading: what the user ticked stays ticked.
        QVERIFY(rig.Box("Check_Replace")->isChecked());
        QVERIFY(rig.Box("Check_TuoPang")->isChecked());
        QVERIFY(rig.Box("Check_ShutDown")->isChecked());
        QVERIFY(rig.TimeBox()->isEnabled()); // a ticked box keeps its time editable
        QCOMPARE(rig.TimeBox()->text(), QString("00:00:00"));
        const ConfigRow row = rig.Stored();
        QCOMPARE(row.playOrder, PlayOrder::Random);
        QVERIFY(!row.rememberRain && !row.minToTray && !row.startWithSystem);
    }

    // The page's own entry: this program's absolute path and, on a store other than the
    // default one, --database with that store.
    void startWithTheDesktopWritesAnEntryThatStartsThisProgram() {
        Rig rig;
        rig.page.Load();
        rig.Click(rig.Box("Check_StartEndSet"));
        rig.Apply();
        QVERIFY(QFile::exists(EntryPath()));
        QCOMPARE(ValidationErrors(EntryPath()), QString());
        QCOMPARE(ExecArgv(EntryPath()), (QStringList{QCoreApplication::applicationFilePath(),
                                                     "--database", rig.store.path}));
        QVERIFY(rig.Stored().startWithSystem);
        QCOMPARE(rig.notices.size(), 1); // the test program is installed nowhere: said
        QVERIFY(rig.notices[0].contains(QCoreApplication::applicationFilePath()));
        rig.notices.clear();

        rig.Click(rig.Box("Check_StartEndSet"));
        rig.Apply();
        QVERIFY(!QFile::exists(EntryPath()));
        QVERIFY(!rig.Stored().startWithSystem);
        QVERIFY(rig.notices.isEmpty());
    }

    // Ticked in a copy run from its build folder, the entry starts the installed program.
    void theEntryStartsTheInstalledProgramWhenThereIsOne() {
        const QString installed = xdg->path() + "/bin/belvoran";
        QVERIFY(WriteRecorder(installed));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(xdg->path() + "/bin:") + path);
        Rig rig;
        qputenv("PATH", path);
        rig.page.Load();
        rig.Click(rig.Box("Check_StartEndSet"));
        rig.Apply();
        QCOMPARE(ExecArgv(EntryPath()).value(0), installed);
    }

    void aProgramPathWithBlanksIsStartedRight() {
        Rig rig;
        const QString program = xdg->path() + "/Belvoran for school/bin dir/belvoran 4.2";
        QVERIFY(WriteRecorder(program));
        XdgAutostart autostart(program, StartArguments(rig.store.path, Conn::DefaultPath()));
        rig.page.SetAutostart(&autostart);
        rig.page.Load();
        rig.Click(rig.Box("Check_StartEndSet"));
        rig.Apply();
        QCOMPARE(ValidationErrors(EntryPath()), QString());
        QCOMPARE(LaunchedArgv(EntryPath(), xdg->path() + "/args.out"),
                 (QStringList{program, "--database", rig.store.path}));
    }

    void anUnwritableAutostartFolderGivesANoticeAndStoresAutostartOff() {
        Rig rig;
        const QString folder = xdg->path() + "/config/autostart";
        if (geteuid() == 0) {
            // Folder permissions do not stop root: a plain file where the folder should be does.
            QVERIFY(QDir().mkpath(xdg->path() + "/config"));
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        }
        rig.page.Load();
        rig.Click(rig.Order(1));
        rig.Click(rig.Box("Check_StartEndSet"));
        rig.Apply();
        QCOMPARE(rig.notices.size(), 1);
        QVERIFY2(rig.notices[0].contains("autostart"), qPrintable(rig.notices[0]));
        QVERIFY2(rig.notices[0].contains(geteuid() == 0 ? "Not a directory" : "Permission denied"),
                 qPrintable(rig.notices[0]));
        QCOMPARE(rig.Stored().playOrder, PlayOrder::RepeatOne);
        // Without its entry the program does not start with the desktop: the store says so.
        QVERIFY(!rig.Stored().startWithSystem);
        QVERIFY(!rig.Box("Check_StartEndSet")->isChecked());
        QCOMPARE(rig.vars.PlayOrder, PlayOrder::RepeatOne);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void aStoreThatRefusesTheWriteGivesANoticeAndChangesNothing() {
        Rig rig;
        FakeAutostart autostart;
        rig.page.SetAutostart(&autostart);
        rig.page.Load();
        rig.store.Raw("CREATE TRIGGER refuse BEFORE UPDATE ON config "
                      "BEGIN SELECT RAISE(ABORT, 'the disk is full'); END");
        rig.Click(rig.Order(2));
        rig.Click(rig.Box("Check_StartEndSet"));
        rig.Apply();
        QCOMPARE(rig.notices.size(), 1);
        QVERIFY2(rig.notices[0].contains("the disk is full"), qPrintable(rig.notices[0]));
        QCOMPARE(rig.vars.PlayOrder, PlayOrder::Sequential);
        QCOMPARE(autostart.adds + autostart.removes, 0);
    }

    void aPastedTimeOfAnotherFormIsRefusedAtApply() {
        Rig rig;
        rig.page.Load();
        rig.Click(rig.Box("Check_ShutDown"));
        rig.TimeBox()->setText("7:30"); // as a paste through the box's menu leaves it
        rig.Apply();
        QCOMPARE(rig.notices.size(), 1);
        QVERIFY(rig.notices[0].contains("无效时间"));
        QCOMPARE(rig.Stored().shutDownTime, QString("00:00:00"));
        QCOMPARE(rig.vars.ShutDownTime, QString("00:00:00"));
    }

    void anUnreadableStoreGivesANoticeAtLoad() {
        Rig rig;
        rig.store.Raw("DROP TABLE config");
        rig.page.Load();
        QCOMPARE(rig.notices.size(), 1);
        QVERIFY2(rig.notices[0].contains("config"), qPrintable(rig.notices[0]));
        QVERIFY(!rig.TimeBox()->isEnabled());
    }

    // Without a test's replacement the notice is the program's own message box.
    void theNoticeIsTheProgramsMessageBox() {
        Rig rig(false);
        rig.page.Load();
        rig.store.Raw("DROP TABLE config");
        QString shown;
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<MessageBox*>(w);
                if (box && box->isVisible()) {
                    shown = box->findChild<QLabel*>("Label1")->text();
                    box->accept();
                }
            }
        });
        rig.Apply();
        QVERIFY2(shown.contains("无法保存设置"), qPrintable(shown));
    }

    // With BELVORAN_SCREENSHOT=FILE.png (run under a real X server) saves a picture of the
    // page with a shutdown time set, in the program's font, for a person to look at.
    void screenshot() {
        const QString file = qEnvironmentVariable("BELVORAN_SCREENSHOT");
        if (file.isEmpty()) {
            QSKIP("BELVORAN_SCREENSHOT is not set");
        }
        QFont font(UiFontFamily());
        font.setPixelSize(12);
        QApplication::setFont(font);
        Rig rig;
        rig.store.Raw("UPDATE config SET 播放顺序 = 2, 关机时间 = '17:30:00', 最小化 = 1");
        rig.page.Load();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.page));
        QVERIFY(Settle()); // layouts and repaints still queued
        QVERIFY(rig.page.grab().save(file));
    }
};

QTEST_MAIN(TestOptionsPage)
#include "test_options_page.moc"
