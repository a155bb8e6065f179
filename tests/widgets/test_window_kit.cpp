// SPDX-License-Identifier: GPL-3.0-or-later
// The image button, the message box with its shutdown countdown, and the skin helpers.
#include "support/fakes.h"
#include "support/settle.h"
#include "widgets/button_layout.h"
#include "widgets/message_box.h"
#include "widgets/move_form.h"
#include "widgets/my_button.h"
#include "widgets/round_form.h"
#include "widgets/tray_icon.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

namespace {

QLabel* TextOf(const MessageBox& box) {
    return box.findChild<QLabel*>("Label1");
}

MyButton* ButtonOf(const MessageBox& box, const char* name) {
    return box.findChild<MyButton*>(name);
}

// The box's power-off through the test's fake.
PowerOffRequest Through(FakePowerOff& power) {
    return [&power](QString* reason) { return power.PowerOffNow(reason); };
}

} // namespace

class TestWindowKit : public QObject {
    Q_OBJECT

private slots:
    // --- image button ---------------------------------------------------------------
    void layoutWithIcon() {
        const ButtonLayout l = DrawButtonLayout(855, 855, 300, 180, 1, 1);
        QCOMPARE(l.D, 675.0);
        QVERIFY(l.iconVisible);
        QCOMPARE(l.icon.width(), 432.0);
        QCOMPARE(l.icon.height(), 432.0);
        QCOMPARE(l.icon.top(), 47.25);
        QCOMPARE(l.icon.left(), (855 - 432) / 2.0);
        QCOMPARE(l.label.y(), 546.75);
        QCOMPARE(l.label.x(), (855 - 300) / 2.0);
    }

    void layoutCaptionOnly() {
        const ButtonLayout l = DrawButtonLayout(975, 375, 400, 180, 0, 1);
        QVERIFY(!l.iconVisible);
        QCOMPARE(l.label.x(), (975 - 400) / 2.0);
        QCOMPARE(l.label.y(), 195 / 2.0);
        // D rounds halves to even.
        QCOMPARE(DrawButtonLayout(100, 100.5, 10, 0, 0, 1).D, 100.0);
        QCOMPARE(DrawButtonLayout(100, 101.5, 10, 0, 0, 1).D, 102.0);
    }

    void borderWidthByHeight() {
        QCOMPARE(DrawButtonLayout(900, 1000, 10, 10, 0, 1).borderWidth, 2);
        QCOMPARE(DrawButtonLayout(900, 500, 10, 10, 0, 1).borderWidth, 1);
        QCOMPARE(DrawButtonLayout(900, 300, 10, 10, 0, 1).borderWidth, 1);
        QCOMPARE(DrawButtonLayout(900, 1250, 10, 10, 0, 1).borderWidth, 2); // 2.5 → 2
        QCOMPARE(DrawButtonLayout(900, 1750, 10, 10, 0, 1).borderWidth, 4); // 3.5 → 4
        MyButton b;
        b.show();
        b.resize(60, 1000 / 15);
        QCOMPARE(b.BorderWidth(), 2);
        b.resize(60, 25); // shorter again: keeps what it had
        QCOMPARE(b.BorderWidth(), 2);
    }

    void buttonPlacesItsCaption() {
        MyButton b;
        b.show();
        b.resize(65, 25);
        b.SetBtCaption("确定");
        const QLabel* cap = b.Caption();
        QVERIFY(qAbs((cap->x() + cap->width() / 2.0) - 32.5) <= 1);
        b.resize(57, 57);
        b.SetStyle(1);
        QVERIFY(b.Layout().iconVisible);
        QVERIFY(cap->y() > b.height() / 2);
    }

    void newButtonReadsLabel1() {
        MyButton b;
        QCOMPARE(b.BtCaption(), QString("Label1"));
    }

    void hoverEndsWithinTwoTicks() {
        MyButton b;
        b.resize(65, 25);
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        QTest::mouseMove(&b, QPoint(10, 10));
        QTRY_VERIFY(b.Hovering());
        QCOMPARE(b.BorderColor(), MyButton::kBorderHover);
        // Real time is the point: two ticks (310 ms) without movement, and a margin.
        QTRY_VERIFY_WITH_TIMEOUT(!b.Hovering(), 510);
        QCOMPARE(b.BorderColor(), MyButton::kBorderNormal);
        QVERIFY(!b.HoverTimer()->isActive()); // no polling while idle
    }

    void pressedFaceAndClick() {
        MyButton b;
        b.resize(65, 25);
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        QSignalSpy clicks(&b, &MyButton::Click);
        b.SelBackColor(2);
        QCOMPARE(b.FaceIndex(), 4);
        QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(b.FaceIndex(), 1);
        QVERIFY(!b.OverlayShown());
        QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(b.FaceIndex(), 0);
        QVERIFY(b.OverlayShown());
        QCOMPARE(clicks.count(), 1);
        QTest::mouseClick(&b, Qt::RightButton, {}, QPoint(5, 5));
        QCOMPARE(clicks.count(), 1);
        b.SelBackColor(0);
        QCOMPARE(b.FaceIndex(), 0);
    }

    void enterAndSpacePressItOtherKeysPassTheirCode() {
        MyButton b;
        b.SetBtCaption("进入设置");
        QCOMPARE(b.accessibleName(), QString("进入设置"));
        QSignalSpy keys(&b, &MyButton::KeyPress);
        QSignalSpy clicks(&b, &MyButton::Click);
        QTest::keyClick(&b, Qt::Key_Return);
        QTest::keyClick(&b, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyPress(&b, Qt::Key_Space);
        QCOMPARE(b.FaceIndex() * 10 + clicks.count(), 12); // held down, clicked when let go
        QTest::keyRelease(&b, Qt::Key_Space);
        QTest::keyClick(&b, 'a');
        QCOMPARE(clicks.count(), 3);
        QCOMPARE(keys.count(), 1);
        QCOMPARE(keys[0][0].toInt(), int('a'));
    }

    void disabledCaptionIsGrey() {
        MyButton b;
        const QColor initial = b.CaptionColor();
        b.ReadProperties({{"BtCaption", "删除"}, {"Enabled", false}});
        QVERIFY(!b.Enabled());
        QCOMPARE(b.CaptionColor(), initial); // stored as disabled: colour not yet changed
        b.SetEnabled(false);
        QCOMPARE(b.CaptionColor(), MyButton::kCaptionDisabled);
        b.SetEnabled(true);
        QCOMPARE(b.CaptionColor(), MyButton::kCaptionEnabled);
    }

    void propertiesOmitDefaults() {
        MyButton b;
        b.ReadProperties({});
        QCOMPARE(b.WriteProperties(), QVariantMap());
        b.SetBtCaption("添加");
        b.SetOverColor(3);
        const QVariantMap bag = b.WriteProperties();
        QCOMPARE(bag.value("BtCaption").toString(), QString("添加"));
        QCOMPARE(bag.value("OverColor").toInt(), 3);
        QVERIFY(!bag.contains("Style"));
        QVERIFY(!bag.contains("Enabled"));
    }

    // --- message box --------------------------------------------------------------
    void noticeHasOneCentredButton() {
        MsgBlock vars;
        vars.MsgTitle = "温馨提示";
        vars.MsgText = "请输入一个替代事件名称！";
        vars.MsgMode = MsgMode::Notice;
        MessageBox box(vars);
        box.open();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const MyButton* ok = ButtonOf(box, "MyButton1");
        QVERIFY(ok->isVisible());
        QVERIFY(!ButtonOf(box, "MyButton2")->isVisible());
        const double centre = ok->x() + ok->width() / 2.0;
        QVERIFY(qAbs(centre - (box.width() + 6) / 2.0) <= 1);
        QCOMPARE(TextOf(box)->text(), vars.MsgText);
        QCOMPARE(box.findChild<QLabel*>("Lab_FormTitle")->text(), QString("温馨提示"));
    }

    void enterConfirms() {
        MsgBlock vars;
        vars.MsgMode = MsgMode::Confirm;
        MessageBox box(vars);
        box.open();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QTRY_VERIFY(ButtonOf(box, "MyButton1")->hasFocus());
        QVERIFY(ButtonOf(box, "MyButton2")->isVisible());
        QTest::keyClick(ButtonOf(box, "MyButton1"), Qt::Key_Return);
        QVERIFY(vars.MsgResult);
        QCOMPARE(box.result(), int(QDialog::Accepted));
    }

    void closeAndCancelGiveFalse() {
        MsgBlock vars;
        vars.MsgMode = MsgMode::Confirm;
        vars.MsgResult = true; // left over from an earlier confirmation
        {
            MessageBox box(vars);
            QVERIFY(!vars.MsgResult); // reset at every load
            box.open();
            QTest::mouseClick(box.findChild<MyButton*>("yButton_Close"), Qt::LeftButton);
            QVERIFY(!box.isVisible());
            QVERIFY(!vars.MsgResult);
        }
        {
            MessageBox box(vars);
            box.open();
            QTest::mouseClick(ButtonOf(box, "MyButton2"), Qt::LeftButton);
            QVERIFY(!vars.MsgResult);
        }
    }

    void countdownPowersOffAfterFiveTicks() {
        MsgBlock vars;
        vars.MsgTitle = "关机提示";
        vars.MsgText = "hidden text";
        vars.MsgMode = MsgMode::Shutdown;
        FakePowerOff power;
        MessageBox box(vars, Through(power));
        bool ended = false;
        box.onPoweredOff = [&] { ended = true; };
        QCOMPARE(TextOf(box)->text(), QString("5 秒后将关闭计算机!"));
        QCOMPARE(box.findChild<QLabel*>("Lab_ShutdownHint")->text(),
                 QString("按任一按钮即取消关机"));
        box.open();
        QTRY_COMPARE_WITH_TIMEOUT(TextOf(box)->text(), QString("1 秒后将关闭计算机!"), 10000);
        QCOMPARE(power.calls, 0); // not before the fifth tick
        QTRY_COMPARE_WITH_TIMEOUT(power.calls, 1, 4000);
        QCOMPARE(TextOf(box)->text(), QString("0 秒后将关闭计算机!"));
        QVERIFY(ended);
        QVERIFY(box.PoweredOff());
    }

    void anyButtonStopsTheCountdown() {
        MsgBlock vars;
        vars.MsgMode = MsgMode::Shutdown;
        FakePowerOff power;
        for (const char* name : {"MyButton1", "MyButton2", "yButton_Close"}) {
            MessageBox box(vars, Through(power));
            box.onPoweredOff = [] { QFAIL("must not end"); };
            box.open();
            QTRY_COMPARE_WITH_TIMEOUT(TextOf(box)->text(), QString("4 秒后将关闭计算机!"), 5000);
            QTest::mouseClick(box.findChild<MyButton*>(name), Qt::LeftButton);
            QVERIFY(!box.isVisible());
            QVERIFY(Settle());
            QVERIFY(!box.findChild<QTimer*>("Timer1")->isActive());
        }
        QCOMPARE(power.calls, 0);
    }

    void refusedPowerOffKeepsRunning() {
        MsgBlock vars;
        vars.MsgMode = MsgMode::Shutdown;
        FakePowerOff power;
        power.accept = false;
        MessageBox box(vars, Through(power));
        bool ended = false;
        box.onPoweredOff = [&] { ended = true; };
        box.open();
        QTRY_COMPARE_WITH_TIMEOUT(power.calls, 1, 7000);
        QVERIFY(!ended);
        QVERIFY(!box.PoweredOff());
        QVERIFY(box.isVisible());
        QVERIFY(TextOf(box)->text().remove('\n').contains("refused by the test"));
        QTest::mouseClick(ButtonOf(box, "MyButton1"), Qt::LeftButton);
        QVERIFY(!box.isVisible());
    }

    // --- skin helpers -------------------------------------------------------------
    void regionGeometry() {
        const RoundRegion r = RoundRegionFor(QSize(304, 163));
        QCOMPARE(r.left, 30);
        QCOMPARE(r.top, 30);
        QCOMPARE(r.right, 274);
        QCOMPARE(r.bottom, 193);
        // In the frameless window's own coordinates: 27 px hidden at each side, 9 at the
        // top, the bottom edge not cut.
        const QRect bounds = ClientRoundRegion(QSize(298, 139)).boundingRect();
        QCOMPARE(bounds.left(), 27);
        QCOMPARE(bounds.top(), 9);
        QCOMPARE(bounds.right() + 1, 271);
        QVERIFY(bounds.bottom() >= 139);
        const QRegion region = ClientRoundRegion(QSize(298, 139));
        QVERIFY(!region.contains(QPoint(28, 10))); // rounded top corner
        QVERIFY(region.contains(QPoint(28, 138))); // square bottom corner
        QVERIFY(region.contains(QPoint(150, 70)));
    }

    void dragArithmetic() {
        MoveForm m;
        // Moving without a press only records.
        QCOMPARE(m.DragMove(QPoint(100, 100), Qt::NoButton, {}, 450, 300), QPoint(100, 100));
        QCOMPARE(m.MoveX, 450L);
        m.DragStart(Qt::RightButton, {}, 300.5, 150.4); // any button; halves to even
        QCOMPARE(m.DownX, 300L);
        QCOMPARE(m.DownY, 150L);
        QCOMPARE(m.DragMove(QPoint(100, 100), Qt::RightButton, {}, 450, 300), QPoint(110, 110));
        m.DragEnd(Qt::RightButton, {}, 450, 300);
        QCOMPARE(m.DragMove(QPoint(110, 110), Qt::NoButton, {}, 900, 900), QPoint(110, 110));
    }

    void dragHandleMovesTheWindow() {
        QWidget w;
        w.resize(200, 100);
        QWidget strip(&w);
        strip.setGeometry(0, 0, 200, 33);
        MakeDragHandle(&strip, &w);
        w.move(100, 100);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QPoint start = w.pos();
        QTest::mousePress(&strip, Qt::MiddleButton, {}, QPoint(20, 10));
        QMouseEvent move(QEvent::MouseMove, QPointF(50, 30), strip.mapToGlobal(QPointF(50, 30)),
                         Qt::NoButton, Qt::MiddleButton, Qt::NoModifier);
        QApplication::sendEvent(&strip, &move);
        QCOMPARE(w.pos(), start + QPoint(30, 20));
        QTest::mouseRelease(&strip, Qt::MiddleButton, {}, QPoint(50, 30));
    }

    void onlyTheRightButtonOpensTheTrayMenu() {
        QVERIFY(TrayMouseMove(QSystemTrayIcon::Context));
        QVERIFY(!TrayMouseMove(QSystemTrayIcon::Trigger));
        QVERIFY(!TrayMouseMove(QSystemTrayIcon::DoubleClick));
        QVERIFY(!TrayMouseMove(QSystemTrayIcon::MiddleClick));
    }
};

QTEST_MAIN(TestWindowKit)
#include "test_window_kit.moc"
