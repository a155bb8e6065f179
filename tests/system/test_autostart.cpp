// SPDX-License-Identifier: GPL-3.0-or-later
// The XDG autostart entry, written into a temporary XDG_CONFIG_HOME (never the real one),
// checked with desktop-file-validate and launched by GLib's own launcher (gio launch).
#include "support/desktop_entry.h"
#include "system/autostart.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace desktop_entry;

class TestAutostart : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home;
    QString config;

    QString EntryText() {
        QFile f(config + "/autostart/Belvoran.desktop");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private slots:
    void init() {
        home.reset(new QTemporaryDir);
        QVERIFY(home->isValid());
        // HOME too, so that even a fault could never reach the real ~/.config.
        qputenv("HOME", QFile::encodeName(home->path()));
        config = home->path() + "/config";
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    }
    void cleanup() {
        chmod(QFile::encodeName(config + "/autostart").constData(), 0755);
        home.reset();
    }

    void folderFollowsXdgConfigHome() {
        QCOMPARE(XdgAutostart::EntryPath(), config + "/autostart/Belvoran.desktop");
        qputenv("XDG_CONFIG_HOME", "relative/is/ignored");
        QCOMPARE(XdgAutostart::EntryPath(), home->path() + "/.config/autostart/Belvoran.desktop");
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(XdgAutostart::EntryPath(), home->path() + "/.config/autostart/Belvoran.desktop");
    }

    void addWritesAnEntryThatValidates() {
        XdgAutostart entry("/usr/bin/belvoran");
        QVERIFY(!entry.IsPresent());
        QString error;
        QVERIFY2(entry.Add(&error), qPrintable(error));
        QVERIFY(entry.IsPresent());
        QVERIFY(EntryText().contains("\nExec=/usr/bin/belvoran\n"));
        QVERIFY(EntryText().contains("\nName=Belvoran\n"));
        QCOMPARE(ValidationErrors(XdgAutostart::EntryPath()), QString());
    }

    void addAgainReplacesTheEntryAndLeavesNoTemporaryFile() {
        QString error;
        QVERIFY(XdgAutostart("/opt/old/belvoran").Add(&error));
        QVERIFY2(XdgAutostart("/opt/new/belvoran").Add(&error), qPrintable(error));
        QVERIFY(EntryText().contains("Exec=/opt/new/belvoran\n"));
        QCOMPARE(QDir(config + "/autostart").entryList(QDir::Files | QDir::Hidden),
                 QStringList{"Belvoran.desktop"});
    }

    void removeDeletesTheEntry() {
        XdgAutostart entry("/usr/bin/belvoran");
        QString error;
        QVERIFY(entry.Add(&error));
        QVERIFY2(entry.Remove(&error), qPrintable(error));
        QVERIFY(!entry.IsPresent());
        QVERIFY(!QFile::exists(config + "/autostart/Belvoran.desktop"));
        QVERIFY2(entry.Remove(&error), qPrintable(error)); // nothing to remove is no failure
    }

    void execQuotesEveryReservedCharacter_data() {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<QString>("written");
        QTest::newRow("plain") << "/usr/bin/belvoran"
                               << "/usr/bin/belvoran";
        QTest::newRow("blank") << "/opt/my apps/belvoran"
                               << "\"/opt/my apps/belvoran\"";
        QTest::newRow("quote") << "/a\"b"
                               << "\"/a\\\\\"b\"";
        QTest::newRow("dollar") << "/a$b"
                                << "\"/a\\\\$b\"";
        QTest::newRow("backslash") << "/a\\b"
                                   << "\"/a\\\\\\\\b\"";
        QTest::newRow("backtick") << "/a`b"
                                  << "\"/a\\\\`b\"";
        QTest::newRow("single quote") << "/a'b"
                                      << "\"/a'b\"";
        QTest::newRow("percent") << "/a%b"
                                 << "/a%%b";
        QTest::newRow("tilde") << "/~a"
                               << "\"/~a\"";
        QTest::newRow("tab") << "/a\tb"
                             << "\"/a\\tb\"";
    }
    void execQuotesEveryReservedCharacter() {
        QFETCH(QString, arg);
        QFETCH(QString, written);
        QCOMPARE(DesktopExecValue({arg}), written);
    }

    // Each character the desktop-entry format reserves forces quoting on its own.
    void eachReservedCharacterAloneIsQuoted() {
        for (const QChar c : QStringLiteral(" \t\n\"'\\><~|&;$*?#()`")) {
            const QString written = DesktopExecValue({QStringLiteral("/srv/a") + c + "b"});
            QVERIFY2(written.startsWith('"') && written.endsWith('"'), qPrintable(written));
        }
    }

    void startArgumentsNameOnlyAnotherDatabase() {
        QCOMPARE(StartArguments("/home/a/.local/share/Belvoran/Music.db",
                                "/home/a/.local/share/Belvoran/Music.db"),
                 QStringList());
        QCOMPARE(StartArguments("", "/d/Music.db"), QStringList());
        QCOMPARE(StartArguments("/srv/bells/Music.db", "/d/Music.db"),
                 (QStringList{"--database", "/srv/bells/Music.db"}));
        const QString relative = QDir::current().absoluteFilePath("x/Music.db");
        QCOMPARE(StartArguments("x/Music.db", "/d/Music.db"),
                 (QStringList{"--database", relative}));
    }

    // The launcher the desktop itself uses starts exactly the program and arguments written.
    void execStartsTheProgramWithItsArguments() {
        // No "%" in the program's own path: GLib looks for the program before it expands "%%".
        const QString folder = home->path() + "/my apps $x `y` \"q\" it's (1) #2 a\\b ~;|&*?<>";
        QVERIFY(QDir().mkpath(folder));
        const QString program = folder + "/bel voran";
        QVERIFY(WriteRecorder(program));
        const QString database = home->path() + "/school bells/100% \"Music\" $1 `x`.db";
        XdgAutostart entry(program, StartArguments(database, home->path() + "/Music.db"));
        QString error;
        QVERIFY2(entry.Add(&error), qPrintable(error));
        QCOMPARE(ValidationErrors(XdgAutostart::EntryPath()), QString());
        QCOMPARE(LaunchedArgv(XdgAutostart::EntryPath(), home->path() + "/args.out"),
                 (QStringList{program, "--database", database}));
    }

    void readOnlyFolderFailsNamingTheReason() {
        QString error;
        XdgAutostart entry("/usr/bin/belvoran");
        QVERIFY(entry.Add(&error));
        // Only the folder stands in the way: the entry itself may be written by anyone.
        QVERIFY(QFile::setPermissions(XdgAutostart::EntryPath(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                                          QFile::WriteOther));
        // The unprivileged helper below must be able to reach the folder.
        QVERIFY(QFile::setPermissions(home->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ExeOwner | QFile::ReadOther |
                                                        QFile::ExeOther));
        QVERIFY(QFile::setPermissions(config, QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ReadOther |
                                                  QFile::ExeOther));
        QCOMPARE(chmod(QFile::encodeName(config + "/autostart").constData(), 0555), 0);

        const QString addError = AsUnprivileged([&](QString* e) { return entry.Add(e); });
        QVERIFY2(addError.contains("Belvoran.desktop"), qPrintable(addError));
        QVERIFY2(addError.contains("ermission"), qPrintable(addError));
        const QString removeError = AsUnprivileged([&](QString* e) { return entry.Remove(e); });
        QVERIFY2(removeError.contains("Belvoran.desktop"), qPrintable(removeError));
        QVERIFY2(removeError.contains("Permission denied"), qPrintable(removeError));
        QVERIFY(entry.IsPresent());
    }

    void folderThatIsAFileFailsNamingTheReason() {
        QVERIFY(QDir().mkpath(config));
        QFile blocker(config + "/autostart");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QString error;
        QVERIFY(!XdgAutostart("/usr/bin/belvoran").Add(&error));
        QVERIFY2(error.contains("autostart"), qPrintable(error));
        QVERIFY2(error.contains("exists") || error.contains("directory"), qPrintable(error));
    }

private:
    // Runs step as the calling user, or, for root (whom folder permissions do not stop), in
    // a child process as "nobody". Returns the error text of a failed step, or "" on success.
    QString AsUnprivileged(const std::function<bool(QString*)>& step) {
        QString error;
        if (geteuid() != 0) {
            return step(&error) ? QString() : error;
        }
        const passwd* nobody = getpwnam("nobody");
        if (!nobody) {
            return QStringLiteral("no user nobody");
        }
        int fds[2];
        if (pipe(fds) != 0) {
            return QStringLiteral("no pipe");
        }
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
                _exit(2);
            }
            const QByteArray out = step(&error) ? QByteArray() : error.toUtf8();
            const ssize_t written = write(fds[1], out.constData(), out.size());
            _exit(written == out.size() ? 0 : 3);
        }
        close(fds[1]);
        QByteArray got;
        char buf[512];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) {
            got.append(buf, n);
        }
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            return QStringLiteral("helper failed");
        }
        return QString::fromUtf8(got);
    }
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "test_autostart.moc"
