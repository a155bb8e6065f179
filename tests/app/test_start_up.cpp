// Start-up pieces that need no window: the command line and the single-instance lock.
#include "app/command_line.h"
#include "system/single_instance.h"

#include <QTemporaryDir>
#include <QtTest>

class TestStartUp : public QObject {
    Q_OBJECT

private slots:
    void singleInstanceLock() {
        QTemporaryDir dir;
        SingleInstance first(dir.path() + "/belvoran.lock");
        QCOMPARE(first.TryLock(), SingleInstance::Acquired);
        SingleInstance broken(dir.path() + "/no/such/folder/belvoran.lock");
        QCOMPARE(broken.TryLock(), SingleInstance::Unavailable);
    }

    void commandLine() {
        QCOMPARE(ParseCommandLine({"belvoran"}).action, CommandLine::Run);
        auto cl = ParseCommandLine({"belvoran", "--database", "/tmp/a b.db"});
        QCOMPARE(cl.action, CommandLine::Run);
        QCOMPARE(cl.database, QString("/tmp/a b.db"));
        QCOMPARE(ParseCommandLine({"belvoran", "--database=/x.db"}).database, QString("/x.db"));
        QCOMPARE(ParseCommandLine({"belvoran", "--database"}).action, CommandLine::Error);
        QCOMPARE(ParseCommandLine({"belvoran", "--bogus"}).action, CommandLine::Error);
        QCOMPARE(ParseCommandLine({"belvoran", "--help"}).action, CommandLine::ShowHelp);
        QCOMPARE(ParseCommandLine({"belvoran", "--version"}).action, CommandLine::ShowVersion);
        QVERIFY(VersionText().contains("201003(V4.2)"));
    }
};

QTEST_GUILESS_MAIN(TestStartUp)
#include "test_start_up.moc"
