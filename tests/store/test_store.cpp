// SPDX-License-Identifier: GPL-3.0-or-later
// The store: schema of a new file, existing files left alone, bad files refused with a
// message, Null values, lists and bound parameters.
#include "core/program_vars.h"
#include "store/config_loader.h"
#include "store/conn.h"
#include "store/split_list.h"
#include "store/statement.h"
#include "store/transaction.h"
#include "support/temp_store.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <QProcess>
#include <QScopeGuard>
#include <atomic>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>

namespace {} // namespace

class TestStore : public QObject {
    Q_OBJECT

private slots:
    void newFileGetsSchemaAndDefaults() {
        QTemporaryDir dir;
        const QString path = dir.path() + "/sub/folder/Music.db";
        QString error;
        auto conn = Conn::Open(path, &error);
        QVERIFY2(conn, qPrintable(error));
        QVERIFY(conn->Created());

        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);

        const QVector<QPair<QString, QStringList>> expected = {
            {"作息表",
             {"id", "星期名", "事件", "开始时间", "音乐文件", "音乐总长", "是否播放", "替代音乐",
              "播放区域"}},
            {"config",
             {"播放顺序", "课间音乐", "关机时间", "记住替代音乐", "替代音乐", "最小化", "倒计时",
              "开机启动"}},
            {"课间音乐", {"id", "组名", "音乐文件", "音乐总长"}},
            {"替代音乐", {"id", "替代名称", "音乐文件", "音乐总长"}},
        };
        for (const auto& [table, columns] : expected) {
            QSqlQuery q(Db(*conn));
            QVERIFY(q.exec("SELECT * FROM " + table));
            QStringList got;
            for (int i = 0; i < q.record().count(); ++i) {
                got << q.record().fieldName(i);
            }
            QCOMPARE(got, columns);
        }

        QSqlQuery q(Db(*conn));
        QVERIFY(q.exec("SELECT count(*) FROM config"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 1);

        ConfigRow row;
        QVERIFY(conn->ReadConfig(&row, &error));
        QCOMPARE(row.playOrder, PlayOrder::Sequential);
        QCOMPARE(row.libraryList, QString(""));
        QCOMPARE(row.shutDownTime, QString("00:00:00"));
        QCOMPARE(row.rememberRain, false);
        QCOMPARE(row.rainMode, false);
        QCOMPARE(row.minToTray, false);
        QCOMPARE(row.showClock, true);
        QCOMPARE(row.startWithSystem, false);

        QVERIFY(q.exec("PRAGMA journal_mode"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), QString("wal"));
    }

    void storeAssignsIds() {
        TempStore s;
        EventRow r;
        r.weekName = "星期一";
        r.startTime = "08:00:00";
        const qint64 a = s.AddEvent(r);
        const qint64 b = s.AddEvent(r);
        QVERIFY(a > 0);
        QCOMPARE(b, a + 1);
    }

    void existingFileIsReadNotRewritten() {
        TempStore s;
        EventRow r{0, "星期二", "上课", "08:00:00", "/m/bell.wav", "00:00:05", "√", "", "111111"};
        QVERIFY(s.AddEvent(r) > 0);
        QVERIFY(s.conn->SetLibraryList("曲库_A"));
        s.conn.reset();
        const QByteArray before = FileBytes(s.path);
        QVERIFY(!before.isEmpty());

        QString error;
        auto again = Conn::Open(s.path, &error);
        QVERIFY(again && !again->Created());
        QVERIFY2(again, qPrintable(error));
        ProgramVars vars;
        QVERIFY(GetConfigValue(vars, *again));
        QCOMPARE(vars.ClassMusicArr, QStringList{"曲库_A"});
        QVector<EventRow> tuesday;
        QVERIFY(again->TodayEvents("星期二", "07:00:00", &tuesday));
        QCOMPARE(tuesday.size(), 1);
        again.reset();
        QCOMPARE(FileBytes(s.path), before);
    }

    void emptyFileBecomesANewStore() {
        // What an interrupted first start leaves behind.
        QTemporaryDir dir;
        const QString path = dir.path() + "/Music.db";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadGroup | QFileDevice::ReadOther));
        QString error;
        auto conn = Conn::Open(path, &error);
        QVERIFY2(conn, qPrintable(error));
        QVERIFY(conn->Created());
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        ConfigRow row;
        QVERIFY(conn->ReadConfig(&row));
        QCOMPARE(row.shutDownTime, QString("00:00:00"));
        qint64 id = 0;
        QVERIFY(conn->AddEvent(
            {0, "星期一", "上课", "08:00:00", "/bells/a.wav", "00:00:05", "√", "", "111111"}, &id));
        conn.reset();

        auto again = Conn::Open(path, &error); // now an ordinary store, kept as it is
        QVERIFY2(again, qPrintable(error));
        QVERIFY(!again->Created());
        QVector<EventRow> monday;
        QVERIFY(again->TodayEvents("星期一", "07:00:00", &monday));
        QCOMPARE(monday.size(), 1);
    }

    void badFilesAreRefusedUntouched_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expect");
        QTest::newRow("text file")
            << QByteArray("这不是数据库 just some text\n") << "not a database";
        QByteArray noise(8192, '\0');
        for (int i = 0; i < noise.size(); ++i) {
            noise[i] = char((i * 7919) % 251);
        }
        QTest::newRow("random bytes") << noise << "not a database";
    }

    void badFilesAreRefusedUntouched() {
        QFETCH(QByteArray, content);
        QFETCH(QString, expect);
        QTemporaryDir dir;
        const QString path = dir.path() + "/Music.db";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();

        QString error;
        auto conn = Conn::Open(path, &error);
        QVERIFY(!conn);
        QVERIFY2(error.contains(path), qPrintable(error));
        QVERIFY2(error.contains(expect), qPrintable(error));
        QCOMPARE(FileBytes(path), content);
    }

    void databaseWithoutOurTablesIsRefused() {
        QTemporaryDir dir;
        const QString path = dir.path() + "/other.db";
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "other");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("CREATE TABLE notes (id INTEGER PRIMARY KEY, body TEXT)"));
            QVERIFY(q.exec("INSERT INTO notes (body) VALUES ('keep me')"));
            db.close();
        }
        QSqlDatabase::removeDatabase("other");
        const QByteArray before = FileBytes(path);

        QString error;
        QVERIFY(!Conn::Open(path, &error));
        QVERIFY2(error.contains(path) && error.contains("作息表"), qPrintable(error));
        QCOMPARE(FileBytes(path), before);
    }

    void missingColumnIsRefused() {
        TempStore s;
        s.Raw("ALTER TABLE 替代音乐 RENAME COLUMN 替代名称 TO 名称");
        s.conn.reset();
        const QByteArray before = FileBytes(s.path);
        QString error;
        QVERIFY(!Conn::Open(s.path, &error));
        QVERIFY2(error.contains("替代名称"), qPrintable(error));
        QCOMPARE(FileBytes(s.path), before);
    }

    void unreadablePathIsRefused() {
        QTemporaryDir dir;
        const QString path = dir.path() + "/Music.db";
        QVERIFY(QDir().mkpath(path)); // a folder where the file should be
        QString error;
        QVERIFY(!Conn::Open(path, &error));
        QVERIFY2(error.contains(path), qPrintable(error));
        QVERIFY(QFileInfo(path).isDir());

        if (::geteuid() != 0) {
            TempStore s;
            s.conn.reset();
            QVERIFY(QFile::setPermissions(s.path, QFileDevice::WriteOwner));
            QVERIFY(!Conn::Open(s.path, &error));
            QVERIFY2(error.contains("权限"), qPrintable(error));
        }
    }

    void lockedFileIsRefused() {
        TempStore s;
        s.conn.reset();
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "locker");
        db.setDatabaseName(s.path);
        QVERIFY(db.open());
        {
            QSqlQuery q(db);
            QVERIFY(q.exec("PRAGMA locking_mode=EXCLUSIVE"));
            QVERIFY(q.exec("BEGIN EXCLUSIVE"));
            QVERIFY(q.exec("UPDATE config SET 关机时间='00:00:00'"));
        }
        QString error;
        QVERIFY(!Conn::Open(s.path, &error));
        QVERIFY2(error.contains("locked"), qPrintable(error));
        {
            QSqlQuery q(db);
            q.exec("ROLLBACK");
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("locker");
    }

    void nullConfigValuesReadAsDefaults() {
        TempStore s;
        s.Raw("UPDATE config SET 播放顺序=NULL, 课间音乐=NULL, 关机时间=NULL, 记住替代音乐=NULL, "
              "替代音乐=NULL, 最小化=NULL, 倒计时=NULL, 开机启动=NULL");
        ProgramVars vars;
        vars.ShowClock = false;
        vars.MinToTray = true;
        vars.PlayOrder = PlayOrder::Random;
        QVERIFY(GetConfigValue(vars, *s.conn));
        QCOMPARE(vars.PlayOrder, PlayOrder::Sequential);
        QVERIFY(vars.ClassMusicArr.isEmpty());
        QCOMPARE(vars.ShutDownTime, QString("00:00:00"));
        QCOMPARE(vars.RainMode, false);
        QCOMPARE(vars.MinToTray, false);
        QCOMPARE(vars.ShowClock, true);
    }

    void rainModeIsRestoredOnlyWhenRemembered() {
        TempStore s;
        ProgramVars vars;
        s.Raw("UPDATE config SET 记住替代音乐=0, 替代音乐=1");
        QVERIFY(GetConfigValue(vars, *s.conn));
        QCOMPARE(vars.RainMode, false);
        s.Raw("UPDATE config SET 记住替代音乐=1, 替代音乐=1");
        QVERIFY(GetConfigValue(vars, *s.conn));
        QCOMPARE(vars.RainMode, true);
    }

    void optionsAreWrittenAndTheOtherColumnsKept() {
        TempStore s;
        s.Raw("UPDATE config SET 课间音乐='曲库_A', 替代音乐=1, 倒计时=0");
        ConfigRow options;
        options.playOrder = PlayOrder::RepeatOne;
        options.rememberRain = true;
        options.startWithSystem = true;
        options.minToTray = true;
        options.shutDownTime = "17:30:00";
        QString error;
        QVERIFY2(s.conn->WriteOptions(options, &error), qPrintable(error));
        ConfigRow row;
        QVERIFY(s.ReadConfig(&row));
        QCOMPARE(row.playOrder, PlayOrder::RepeatOne);
        QVERIFY(row.rememberRain && row.startWithSystem && row.minToTray);
        QCOMPARE(row.shutDownTime, QString("17:30:00"));
        QCOMPARE(row.libraryList, QString("曲库_A"));
        QVERIFY(row.rainMode);
        QVERIFY(!row.showClock);
    }

    void optionsWithoutAConfigRowAreNotReportedStored() {
        TempStore s;
        s.Raw("DELETE FROM config");
        QString error;
        QVERIFY(!s.conn->WriteOptions(ConfigRow(), &error));
        QVERIFY2(error.contains("config"), qPrintable(error));
    }

    void libraryLists_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("one") << "曲库_A" << QStringList{"曲库_A"};
        QTest::newRow("two") << "曲库_A|曲库_B" << QStringList{"曲库_A", "曲库_B"};
        QTest::newRow("empty piece kept")
            << "曲库_A||曲库_B" << QStringList{"曲库_A", "", "曲库_B"};
    }

    void libraryLists() {
        QFETCH(QString, stored);
        QFETCH(QStringList, expected);
        QCOMPARE(SplitList(stored), expected);
        TempStore s;
        QVERIFY(s.conn->SetLibraryList(stored));
        ProgramVars vars;
        QVERIFY(SetClassMusicArr(vars, *s.conn));
        QCOMPARE(vars.ClassMusicArr, expected);
        QVERIFY(GetConfigValue(vars, *s.conn));
        QCOMPARE(vars.ClassMusicArr, expected);
    }

    void replacementTables_data() {
        QTest::addColumn<int>("rows");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("three hundred") << 300;
    }

    void replacementTables() {
        QFETCH(int, rows);
        TempStore s;
        for (int i = 0; i < rows; ++i) {
            QVERIFY(s.AddReplace(QString("替代%1").arg(i), QString("/m/%1.mp3").arg(i),
                                 "00:00:10") > 0);
        }
        ProgramVars vars;
        vars.ReplaceMusicArr = {{"stale", "/stale.mp3"}};
        QVERIFY(SetReplaceMusicArr(vars, *s.conn));
        QCOMPARE(vars.ReplaceMusicArr.size(), rows);
        for (int i = 0; i < rows; ++i) {
            QCOMPARE(vars.ReplaceMusicArr[i].name, QString("替代%1").arg(i));
            QCOMPARE(vars.ReplaceMusicArr[i].file, QString("/m/%1.mp3").arg(i));
        }
    }

    void nullReplacementNamesReadEmpty() {
        TempStore s;
        s.Raw("INSERT INTO 替代音乐 (替代名称, 音乐文件, 音乐总长) VALUES (NULL, NULL, NULL)");
        ProgramVars vars;
        QVERIFY(SetReplaceMusicArr(vars, *s.conn));
        QCOMPARE(vars.ReplaceMusicArr.size(), 1);
        QCOMPARE(vars.ReplaceMusicArr[0].name, QString(""));
        QCOMPARE(vars.ReplaceMusicArr[0].file, QString(""));
    }

    void quotesRoundTrip() {
        TempStore s;
        const QString nasty = "O'Brien \"铃声\" '); DROP TABLE config; --";
        const QString path = "/home/o'neil/\"music\"/it's.mp3";
        EventRow r{0, "星期三", nasty, "09:00:00", path, "00:01:00", "√", nasty, "111111"};
        QVERIFY(s.AddEvent(r) > 0);
        QVERIFY(s.AddSong("曲库_" + nasty, path, "00:02:00") > 0);
        QVERIFY(s.AddReplace(nasty, path, "00:03:00") > 0);
        QVERIFY(s.conn->SetLibraryList("曲库_" + nasty));

        const auto events = s.TodayEvents("星期三", "08:59:59");
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].event, nasty);
        QCOMPARE(events[0].musicFile, path);
        QCOMPARE(events[0].replace, nasty);
        const auto songs = s.LibrarySongs("曲库_" + nasty);
        QCOMPARE(songs.size(), 1);
        QCOMPARE(songs[0].file, path);
        const auto reps = s.ReplaceRows();
        QCOMPARE(reps.size(), 1);
        QCOMPARE(reps[0].name, nasty);
        QString list;
        QVERIFY(s.conn->ReadLibraryList(&list));
        QCOMPARE(list, "曲库_" + nasty);
    }

    void todaysQuerySelectsAndOrders() {
        TempStore s;
        auto add = [&](const QString& week, const QString& start, const QString& flag,
                       const QString& name) {
            QVERIFY(s.AddEvent({0, week, name, start, "/m/x.wav", "00:00:01", flag, "", "111111"}) >
                    0);
        };
        add("星期一", "10:00:00", "√", "c");
        add("星期一", "08:00:00", "√", "a");
        add("星期一", "09:00:00", "", "off");
        add("星期一", "09:30:00", "√", "b");
        add("星期二", "09:00:00", "√", "other day");
        add("星期一", "07:00:00", "√", "past");
        s.Raw("INSERT INTO 作息表 (星期名, 事件, 开始时间, 音乐文件, 是否播放) "
              "VALUES ('星期一', 'null flag', '11:00:00', '/m/x.wav', NULL)");
        const auto rows = s.TodayEvents("星期一", "07:00:00");
        QStringList names;
        for (const auto& r : rows) {
            names << r.event;
        }
        QCOMPARE(names, (QStringList{"a", "b", "c"}));
    }

    // --- schema versions and transactions ----------------------------------------------
    void newFileRecordsItsVersion() {
        TempStore s;
        QSqlQuery q(Db(*s.conn));
        QVERIFY(q.exec("PRAGMA user_version") && q.next());
        QCOMPARE(q.value(0).toInt(), SchemaMigrations().last().to);
        QCOMPARE(s.conn->SchemaVersion(), SchemaMigrations().last().to);
        QVERIFY(s.conn->Created());
    }

    void version1FileGetsTheLibraryIndexOnce() {
        TempStore s;
        QVERIFY(s.AddSong("曲库_A", "/m/a.mp3", "00:01:00") > 0);
        s.Raw("DROP INDEX 课间音乐_组名"); // as a file written before the index was kept
        s.Raw("PRAGMA user_version=1");
        s.conn.reset();
        QString error;
        auto conn = Conn::Open(s.path, &error);
        QVERIFY2(conn, qPrintable(error));
        QCOMPARE(conn->SchemaVersion(), SchemaMigrations().last().to);
        QSqlQuery q(Db(*conn));
        QVERIFY(q.exec("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND "
                       "tbl_name = '课间音乐' AND sql IS NOT NULL") &&
                q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        // A library's songs are found through it, not by reading the whole table.
        QVERIFY(q.exec("EXPLAIN QUERY PLAN SELECT * FROM 课间音乐 WHERE 组名 = '曲库_A'"));
        QStringList plan;
        while (q.next()) {
            plan << q.value(3).toString();
        }
        QVERIFY2(plan.join(' ').contains("INDEX 课间音乐_组名"), qPrintable(plan.join(' ')));
        q.finish();
        QVector<SongRow> rows;
        QVERIFY(conn->LibrarySongs("曲库_A", &rows));
        QCOMPARE(rows.size(), 1);
        conn.reset();

        // Opened again at the current version: nothing is written.
        const QByteArray before = FileBytes(s.path);
        conn = Conn::Open(s.path, &error);
        QVERIFY2(conn, qPrintable(error));
        QCOMPARE(conn->SchemaVersion(), SchemaMigrations().last().to);
        conn.reset();
        QCOMPARE(FileBytes(s.path), before);
    }

    void olderFileIsUpgradedOnceInATransaction() {
        TempStore s;
        QVERIFY(s.AddEvent({0, "星期一", "上课", "08:00:00", "/m/a.wav", "00:00:05", "√", "",
                            "111111"}) > 0);
        s.Raw("PRAGMA user_version=0"); // a file from before versions were kept
        s.conn.reset();
        const QVector<Migration> steps = {{2,
                                           {"CREATE TABLE 测试 (id INTEGER PRIMARY KEY, note TEXT)",
                                            "INSERT INTO 测试 (note) VALUES ('once')"}}};
        QString error;
        auto conn = Conn::Open(s.path, &error, steps);
        QVERIFY2(conn, qPrintable(error));
        QCOMPARE(conn->SchemaVersion(), 2);
        QVERIFY(!conn->Created());
        conn.reset();
        conn = Conn::Open(s.path, &error, steps); // a second open finds nothing to do
        QVERIFY2(conn, qPrintable(error));
        QSqlQuery q(Db(*conn));
        QVERIFY(q.exec("SELECT count(*) FROM 测试") && q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QVERIFY(q.exec("PRAGMA user_version") && q.next());
        QCOMPARE(q.value(0).toInt(), 2);
        QVERIFY(q.exec("SELECT count(*) FROM 作息表") && q.next());
        QCOMPARE(q.value(0).toInt(), 1); // every row kept
    }

    void failedUpgradeStepChangesNothing() {
        TempStore s;
        s.conn.reset();
        const int current = SchemaMigrations().last().to;
        QVector<Migration> steps = SchemaMigrations();
        steps.push_back({current + 1, {"CREATE TABLE 半成品 (id INTEGER)", "THIS IS NOT SQL"}});
        QString error;
        QVERIFY(!Conn::Open(s.path, &error, steps));
        QVERIFY2(error.contains(s.path), qPrintable(error));
        auto conn = Conn::Open(s.path, &error);
        QVERIFY2(conn, qPrintable(error));
        QCOMPARE(conn->SchemaVersion(), current);
        QVERIFY(!Db(*conn).tables().contains("半成品"));
    }

    void newerFileIsRefusedUntouched() {
        TempStore s;
        s.Raw("PRAGMA user_version=99");
        s.conn.reset();
        const QByteArray before = FileBytes(s.path);
        QString error;
        QVERIFY(!Conn::Open(s.path, &error));
        QVERIFY2(error.contains("99"), qPrintable(error));
        QCOMPARE(FileBytes(s.path), before);
    }

    void transactionRollsBackUnlessCommitted() {
        TempStore s;
        {
            Transaction tx(*s.conn);
            QVERIFY(tx.Begin());
            QVERIFY(s.AddSong("曲库_A", "/m/a.mp3", "00:01:00") > 0);
        } // no commit: gone
        QCOMPARE(s.LibrarySongs("曲库_A").size(), 0);
        {
            Transaction tx(*s.conn);
            QVERIFY(tx.Begin());
            QVERIFY(s.AddSong("曲库_A", "/m/a.mp3", "00:01:00") > 0);
            QVERIFY(tx.Commit());
        }
        QCOMPARE(s.LibrarySongs("曲库_A").size(), 1);
    }

    // A transaction that reads before it writes (a central copy) while another thread of the
    // program writes records: each waits for the other, none fails with "database is locked".
    void transactionsWaitForAWriterOnAnotherThread() {
        TempStore s;
        std::atomic<bool> done{false};
        std::atomic<int> writerFailures{0}, written{0};
        std::thread writer([&] {
            QString why;
            auto own = Conn::Open(s.path, &why);
            const PlayRecordRow r{0,        "2026-12-07",       "08:00:00", "上课",
                                  "/b.wav", PlayOutcome::Fired, 1,          ""};
            while (own && !done) {
                writerFailures += own->AddPlayRecordToSend(r, "一号楼") ? 0 : 1;
                ++written;
                // A bell's pace, only much faster.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        const auto stop = [&] {
            done = true;
            if (writer.joinable()) {
                writer.join();
            }
        };
        const auto stopOnFailure = qScopeGuard(stop);
        QTRY_VERIFY(written > 0);
        for (int i = 0; i < 100; ++i) {
            Transaction tx(*s.conn);
            QString error;
            QVERIFY2(tx.Begin(&error), qPrintable(error));
            QSqlQuery read(Db(*s.conn));
            QVERIFY(read.exec("SELECT count(*) FROM 播放记录") && read.next());
            QVERIFY2(s.conn->AddPlayRecord(
                         {0, "2026-12-07", "09:00:00", "下课", "/b.wav", PlayOutcome::Fired, 1, ""},
                         nullptr, &error),
                     qPrintable(error));
            QVERIFY2(tx.Commit(&error), qPrintable(error));
        }
        stop();
        QCOMPARE(writerFailures.load(), 0);
    }

    // A descriptor of the store's files closed elsewhere in the process (a file dialog)
    // drops SQLite's locks, and sqlite3 then deletes the log: the next change opens the store
    // again and lands where other programs read it.
    void lostLocksAreNoticedAndChangesStillReachTheFile() {
        TempStore s;
        const auto sqlite3 = [&](const QString& sql) {
            QProcess p;
            p.start("sqlite3", {s.path, sql});
            p.waitForFinished();
            return p.readAllStandardOutput().trimmed();
        };
        QVERIFY(s.AddSong("曲库_A", "/m/a.mp3", "00:01:00") > 0);
        QVERIFY(QFile(s.path).open(QIODevice::ReadOnly));
        QVERIFY(QFile(s.path + "-shm").open(QIODevice::ReadOnly));
        QVERIFY(!s.conn->HoldsLocks());
        QCOMPARE(sqlite3("SELECT count(*) FROM 课间音乐"), QByteArray("1"));
        QVERIFY(!QFile::exists(s.path + "-wal"));
        QVERIFY(s.AddSong("曲库_B", "/m/b.mp3", "00:01:00") > 0);
        QVERIFY(s.conn->HoldsLocks());
        QCOMPARE(sqlite3("SELECT group_concat(组名) FROM 课间音乐"), QByteArray("曲库_A,曲库_B"));
    }

    // Start-up failures name the file and the cause in the administrator's terms.
    void openFailuresSayWhy() {
        QString error;
        QVERIFY(!Conn::Open("/proc/version", &error));
        QVERIFY2(error.contains("/proc/version：这不是普通文件"), qPrintable(error));
        QTemporaryDir ro, full;
        const auto mount = [](const QTemporaryDir& d, unsigned long flags, const char* options) {
            return ::mount("tmpfs", QFile::encodeName(d.path()).constData(), "tmpfs", flags,
                           options) == 0;
        };
        if (::geteuid() != 0 || !mount(ro, 0, "size=1m") || !mount(full, 0, "size=64k")) {
            QSKIP("a read-only folder and a full disk need root, to mount small file systems");
        }
        const auto unmount = qScopeGuard([&] {
            for (const QTemporaryDir* d : {&ro, &full}) {
                ::umount2(QFile::encodeName(d->path()).constData(), MNT_DETACH);
            }
        });
        QVERIFY(Conn::Open(ro.path() + "/Music.db", &error));
        QVERIFY(mount(ro, MS_REMOUNT | MS_RDONLY, nullptr));
        QVERIFY(!Conn::Open(ro.path() + "/Music.db", &error));
        QVERIFY2(error.contains("文件夹 " + ro.path() + " 不可写入"), qPrintable(error));
        QFile filler(full.path() + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
        }
        QVERIFY(!Conn::Open(full.path() + "/Music.db", &error));
        QVERIFY2(error.contains("磁盘已满"), qPrintable(error));
    }

    void failedStatementSaysWhy() {
        TempStore s;
        s.Raw("DROP TABLE 课间音乐");
        QVector<SongRow> rows;
        QString error;
        QVERIFY(!s.conn->LibrarySongs("曲库_A", &rows, &error));
        QVERIFY2(error.contains("课间音乐"), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
