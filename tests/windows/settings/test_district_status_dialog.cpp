// SPDX-License-Identifier: GPL-3.0-or-later
// "各校状态" as an editor sees it on a real PostgreSQL server: its computers, the red one, the
// failures of the one selected, another day, and a server that stops answering.
#include "central/district_reader.h"
#include "support/pg_district.h"
#include "windows/settings/district_status_dialog.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QtTest>

class TestDistrictStatusDialog : public QObject {
    Q_OBJECT

private slots:
    void anEditorSeesItsComputersAndWhichNeedLooking() {
        PgServer server;
        if (const QString why = server.Start(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        QDate today;
        const QString failed = district::Fill(server, &today);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        DistrictReader reader(server.Central("desk_a"), "UTC", 1000);
        DistrictStatusDialog view(reader, today);
        view.show();
        auto* computers = view.findChild<QTableWidget*>("Grid_Computers");
        auto* failures = view.findChild<QTableWidget*>("Grid_Failures");
        auto* all = view.findChild<QCheckBox*>("Check_AllFailures");
        QTRY_COMPARE_WITH_TIMEOUT(computers->rowCount(), 2, 20000);
        QCOMPARE(computers->horizontalHeaderItem(3)->text(), QString("最后心跳"));
        QCOMPARE(computers->item(1, 1)->text(), QString("a-102"));
        QCOMPARE(computers->item(1, 0)->background().color(), QColor(255, 200, 200));
        QCOMPARE(computers->item(0, 0)->background().style(), Qt::NoBrush);
        QVERIFY(view.findChild<QLabel*>("Lab_DistrictSummary")->text().contains("1 台需要查看"));
        QCOMPARE(failures->rowCount(), 2);

        // The failures of the selected computer alone, until all are asked for again.
        computers->selectRow(0);
        QVERIFY(!all->isChecked());
        QCOMPARE(failures->rowCount(), 1);
        QCOMPARE(failures->item(0, 0)->text() + " " + failures->item(0, 4)->text(),
                 QString("09:00:00 失败"));
        QVERIFY(view.findChild<QLabel*>("Lab_Failures")->text().contains("计算机 a-101"));
        all->setChecked(true);
        QCOMPARE(failures->rowCount(), 2);

        // Yesterday from the kept reports: a-102 sent none while its site rang.
        view.findChild<QDateEdit*>("Date_District")->setDate(today.addDays(-1));
        QTRY_COMPARE_WITH_TIMEOUT(failures->rowCount(), 0, 20000);
        QCOMPARE(computers->item(0, 5)->text(), QString("1"));
        QCOMPARE(computers->item(1, 0)->background().color(), QColor(255, 200, 200));

        // A server that stops answering: the window stays usable and says why.
        QVERIFY(server.Freeze(true));
        view.Refresh();
        auto* error = view.findChild<QLabel*>("Lab_DistrictError");
        QTRY_VERIFY_WITH_TIMEOUT(error->isVisible(), 20000);
        QVERIFY2(error->text().contains("没有应答"), qPrintable(error->text()));
        QCOMPARE(computers->rowCount(), 2); // what was shown stays
        QVERIFY(server.Freeze(false));
        view.Refresh();
        QTRY_VERIFY_WITH_TIMEOUT(!error->isVisible(), 20000);
    }
};

QTEST_MAIN(TestDistrictStatusDialog)
#include "test_district_status_dialog.moc"
