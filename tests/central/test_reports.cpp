// SPDX-License-Identifier: GPL-3.0-or-later
// Two PA computers of a district send their play records and heartbeats to a real
// PostgreSQL server; each writes its own rows of its own site, and reads no one else's.
#include "central/central.h"
#include "support/pg_server.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

namespace {

const QString kA = QStringLiteral("一号楼");
const QString kB = QStringLiteral("二号楼");

// Runs sql on the server as user: the first row's values joined by spaces, or "error: …".
QString RunAs(const PgServer& server, const QString& user, const QString& sql) {
    QString result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "raw-" + user);
        db.setConnectOptions(server.Central(user));
        QSqlQuery q(db);
        if (!db.open()) {
            result = "error: " + db.lastError().text();
        } else if (!q.exec(sql)) {
            result = "error: " + q.lastError().text();
        } else if (q.next()) {
            QStringList values;
            for (int i = 0; i < q.record().count(); ++i) {
                values << q.value(i).toString();
            }
            result = values.join(' ');
        }
    }
    QSqlDatabase::removeDatabase("raw-" + user);
    return result;
}

// Sites A and B; computer pa_a follows A, pa_b follows B; desk_a edits A.
QString MakeDistrict(PgServer& server) {
    if (const QString why = server.Start(); !why.isEmpty()) {
        return why;
    }
    QString error;
    auto owner = CentralStore::Open(server.Central(), &error);
    if (!owner || !owner->AddSite(kA) || !owner->AddSite(kB)) {
        return "the owner cannot make the sites: " + error;
    }
    for (const QString& sql :
         {QStringLiteral("CREATE ROLE pa_a LOGIN IN ROLE belvoran_follower"),
          QStringLiteral("CREATE ROLE pa_b LOGIN IN ROLE belvoran_follower"),
          QStringLiteral("CREATE ROLE desk_a LOGIN IN ROLE belvoran_editor"),
          QStringLiteral("CREATE ROLE it_admin LOGIN IN ROLE belvoran_admin"),
          QStringLiteral("INSERT INTO 站点权限 VALUES ('pa_a', '一号楼', false), ('pa_b', "
                         "'二号楼', false), ('desk_a', '一号楼', true)")}) {
        if (const QString e = RunAs(server, "belvoran", sql); e.startsWith("error")) {
            return e;
        }
    }
    return {};
}

QString Report(const QString& account, const QString& site, const QString& event) {
    return QStringLiteral("INSERT INTO 播放报告 (账户, 站点, 计算机, 日期, 时间, 事件, 结果) "
                          "VALUES ('%1', '%2', 'pc', '2026-12-07', '08:00:00', '%3', 'fired')")
        .arg(account, site, event);
}

} // namespace

class TestReports : public QObject {
    Q_OBJECT

private slots:
    void eachComputerWritesAndReadsOnlyItsOwnRows() {
        PgServer server;
        if (const QString why = MakeDistrict(server); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QCOMPARE(RunAs(server, "pa_a", Report("pa_a", kA, "上课")), QString());
        QCOMPARE(RunAs(server, "pa_b", Report("pa_b", kB, "上课")), QString());
        QCOMPARE(RunAs(server, "pa_b",
                       "INSERT INTO 计算机状态 (站点, 计算机, 版本) VALUES "
                       "('二号楼', 'pc-b', '1')"),
                 QString());
        // Another account's row, or another site's, is refused.
        QVERIFY(RunAs(server, "pa_a", Report("pa_b", kB, "冒名")).contains("row-level security"));
        QVERIFY(RunAs(server, "pa_a", Report("pa_a", kB, "越站")).contains("row-level security"));
        QVERIFY(RunAs(server, "pa_a",
                      "INSERT INTO 计算机状态 (账户, 站点, 计算机, 版本) VALUES "
                      "('pa_b', '二号楼', 'pc', '1')")
                    .contains("row-level security"));
        // Nobody else's rows are seen, changed or deleted by a computer.
        QCOMPARE(RunAs(server, "pa_a", "SELECT count(*), min(账户) FROM 播放报告"),
                 QString("1 pa_a"));
        QCOMPARE(RunAs(server, "pa_a", "SELECT count(*) FROM 计算机状态"), QString("0"));
        QCOMPARE(RunAs(server, "pa_a", "UPDATE 计算机状态 SET 版本 = 'x' RETURNING 1"), QString());
        QVERIFY(RunAs(server, "pa_b", "DELETE FROM 播放报告").contains("permission denied"));
        // The editor reads its site's rows, the administrator all and prunes them.
        QCOMPARE(RunAs(server, "desk_a", "SELECT count(*), min(账户) FROM 播放报告"),
                 QString("1 pa_a"));
        QCOMPARE(RunAs(server, "it_admin", "SELECT count(*) FROM 播放报告"), QString("2"));
        QCOMPARE(RunAs(server, "it_admin", "DELETE FROM 播放报告 RETURNING 1"), QString("1"));
    }
};

QTEST_MAIN(TestReports)
#include "test_reports.moc"
