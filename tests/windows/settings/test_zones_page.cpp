// SPDX-License-Identifier: GPL-3.0-or-later
// The play-zones page over a real store: outputs picked from the machine's list and typed,
// a channel, a command and a name are stored and shown again; "测试" plays on the zone.
#include "core/program_vars.h"
#include "support/fakes.h"
#include "support/temp_store.h"
#include "widgets/my_button.h"
#include "windows/settings/settings_context.h"
#include "windows/settings/zones_page.h"

#include <QComboBox>
#include <QLineEdit>
#include <QtTest>

class TestZonesPage : public QObject {
    Q_OBJECT

private slots:
    void changesAreStoredAndShownAgain() {
        TempStore store;
        ProgramVars vars;
        FakePlayer player;
        SettingsState state;
        SettingsContext ctx{vars, *store.conn, player, state};
        ZonesPage page(ctx);
        page.ListOutputs = [] {
            return QVector<OutputDevice>{{"内置声卡", "alsasink device=\"hw:0\"", 2},
                                         {"八声道卡", "alsasink device=\"hw:1\"", 8}};
        };
        QStringList told;
        page.Notify = [&](const QString& text) { told << text; };
        page.Load();
        auto name = [&](int n) {
            return page.findChild<QLineEdit*>(QString("Text_ZoneName%1").arg(n));
        };
        auto output = [&](int n) {
            return page.findChild<QComboBox*>(QString("Combo_ZoneOutput%1").arg(n));
        };
        QCOMPARE(name(4)->text(), QString("寝室楼一"));
        QCOMPARE(output(1)->currentText(), QString("默认输出"));
        QCOMPARE(output(1)->count(), 3);

        name(1)->setText("东教学楼");
        output(3)->setCurrentIndex(2);
        auto* channel = page.findChild<QComboBox*>("Combo_ZoneChannel3");
        channel->setCurrentIndex(channel->findText("3/8"));
        output(5)->setEditText("pulsesink device=zone5");
        page.findChild<QLineEdit*>("Text_ZoneCommand3")->setText("/usr/local/bin/pa-zones");
        QVERIFY(page.Save());
        QVector<ZoneRow> zones;
        QVERIFY(store.conn->Zones(&zones));
        QCOMPARE(zones[0].name, QString("东教学楼"));
        QCOMPARE(zones[2], ZoneRow({3, "教学楼三", "alsasink device=\"hw:1\"", "八声道卡", 8, 3,
                                    "/usr/local/bin/pa-zones"}));
        QCOMPARE(zones[4].sink, QString("pulsesink device=zone5"));
        QCOMPARE(zones[1].sink, QString());

        // The eight-channel card is unplugged: zone 3 keeps it, shown by its name.
        page.ListOutputs = [] { return QVector<OutputDevice>(); };
        page.Load();
        QCOMPARE(output(3)->currentText(), QString("八声道卡"));
        QCOMPARE(page.Shown(), zones);

        MyButton* test = page.findChild<MyButton*>("MyBt_TestZone5");
        emit test->Click();
        QCOMPARE(player.plays.size(), 1);
        QCOMPARE(player.calls.last().route,
                 AudioRoute({{"寝室楼二", "pulsesink device=zone5", 0, {}}}));
        QCOMPARE(told, QStringList());

        // A command typed where the output goes is refused, and nothing of the page stored.
        output(6)->setEditText("/usr/local/bin/pa-zones");
        name(6)->setText("操场区");
        QVERIFY(!page.Save());
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].startsWith("播放区域未保存：操场区 的输出“/usr/local/bin/pa-zones”"),
                 qPrintable(told[0]));
        QVERIFY(store.conn->Zones(&zones));
        QCOMPARE(zones[5].name, QString("操场"));
    }
};

QTEST_MAIN(TestZonesPage)
#include "test_zones_page.moc"
