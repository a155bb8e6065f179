// SPDX-License-Identifier: GPL-3.0-or-later
// The masked time box driven through a real QLineEdit.
#include "support/settle.h"
#include "widgets/text_time_box.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

class TestTimeBox : public QObject {
    Q_OBJECT

    QWidget* window = nullptr;
    QLineEdit* edit = nullptr;
    QLineEdit* other = nullptr;
    Text_TimeBox* timeBox = nullptr;

    void Type(const QString& keys) {
        for (QChar c : keys) {
            QTest::keyClick(edit, c.toLatin1());
        }
    }
    int Selected() const { return edit->selectionStart(); }
    void SelectDigit(int p) { edit->setSelection(p, 1); }

private slots:
    void init() {
        window = new QWidget;
        auto* layout = new QVBoxLayout(window);
        edit = new QLineEdit(window);
        other = new QLineEdit(window);
        layout->addWidget(edit);
        layout->addWidget(other);
        timeBox = new Text_TimeBox(window);
        timeBox->Attach(edit);
        window->show();
        QApplication::setActiveWindow(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
    }
    void cleanup() { delete window; }

    void attachStyles() {
        QCOMPARE(edit->text(), QString("00:00:00"));
        QVERIFY(edit->font().bold());
        QCOMPARE(edit->width(), 60);
        edit->setText("12:34:56");
        timeBox->Attach(edit); // again on the same box: restyled and reset
        QCOMPARE(edit->text(), QString("00:00:00"));
    }

    void focusSelectsFirstDigit() {
        QCOMPARE(Selected(), 0);
        QCOMPARE(edit->selectedText(), QString("0"));
    }

    void typingWrapsAround() {
        Type("123000");
        QCOMPARE(edit->text(), QString("12:30:00"));
        QCOMPARE(Selected(), 0);
        QCOMPARE(edit->selectedText().size(), 1);
    }

    void hourNeverAbove23() {
        edit->setText("19:00:00");
        SelectDigit(0);
        Type("2");
        QCOMPARE(edit->text(), QString("19:00:00"));
        QCOMPARE(Selected(), 0);
        edit->setText("13:00:00");
        SelectDigit(0);
        Type("2");
        QCOMPARE(edit->text(), QString("23:00:00"));
        QCOMPARE(Selected(), 1);
        for (const char d : {'4', '5', '9'}) {
            Type(QString(d));
            QCOMPARE(edit->text(), QString("23:00:00"));
        }
        edit->setText("03:00:00");
        SelectDigit(1);
        Type("9");
        QCOMPARE(edit->text(), QString("09:00:00"));
        edit->setText("13:00:00");
        SelectDigit(1);
        Type("9");
        QCOMPARE(edit->text(), QString("19:00:00"));
    }

    void tensAtMostFive() {
        for (int p : {3, 6}) {
            edit->setText("00:00:00");
            for (const char d : {'6', '7', '8', '9'}) {
                SelectDigit(p);
                Type(QString(d));
                QCOMPARE(edit->text(), QString("00:00:00"));
                QCOMPARE(Selected(), p);
            }
            SelectDigit(p);
            Type("5");
            QCOMPARE(edit->text()[p], QChar('5'));
        }
        for (int p : {4, 7}) {
            SelectDigit(p);
            Type("9");
            QCOMPARE(edit->text()[p], QChar('9'));
        }
    }

    void refusedCharactersChangeNothing() {
        edit->setText("12:30:00");
        SelectDigit(3);
        Type("a: ");
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text(), QString("12:30:00"));
        QCOMPARE(Selected(), 3);
    }

    void deleteResetsEverywhere() {
        for (int p : {0, 4, 7}) {
            edit->setText("12:34:56");
            SelectDigit(p);
            QTest::keyClick(edit, Qt::Key_Delete);
            QCOMPARE(edit->text(), QString("00:00:00"));
            QCOMPARE(Selected(), 0);
        }
    }

    void homeAndEndSelectFirst() {
        SelectDigit(4);
        QTest::keyClick(edit, Qt::Key_End);
        QCOMPARE(Selected(), 0);
        SelectDigit(6);
        QTest::keyClick(edit, Qt::Key_Home);
        QCOMPARE(Selected(), 0);
    }

    void arrowsSkipColonsAndStopAtEnds() {
        const QList<int> rightward = {0, 1, 3, 4, 6, 7, 7};
        SelectDigit(0);
        for (int i = 1; i < rightward.size(); ++i) {
            QTest::keyClick(edit, Qt::Key_Right);
            QCOMPARE(Selected(), rightward[i]);
            QCOMPARE(edit->selectedText().size(), 1);
        }
        const QList<int> leftward = {7, 6, 4, 3, 1, 0, 0};
        for (int i = 1; i < leftward.size(); ++i) {
            QTest::keyClick(edit, Qt::Key_Left);
            QCOMPARE(Selected(), leftward[i]);
        }
    }

    void pasteShortcutIsRefused() {
        QApplication::clipboard()->setText("99:99:99");
        SelectDigit(0);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
        QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(edit->text(), QString("00:00:00"));
    }

    void pressNextToColons() {
        edit->setText("12:34:56");
        auto pressAt = [&](int caret) {
            // A point the line edit itself maps to that caret position.
            const int y = edit->height() / 2;
            int x = 0;
            while (x < edit->width() && edit->cursorPositionAt(QPoint(x, y)) != caret) {
                ++x;
            }
            QTest::mouseClick(edit, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
            return Selected();
        };
        QCOMPARE(pressAt(2), 1);
        QCOMPARE(pressAt(5), 4);
        QCOMPARE(pressAt(3), 3);
        QCOMPARE(pressAt(6), 6);
        QCOMPARE(pressAt(8), 7);
        QTest::mouseClick(edit, Qt::LeftButton, Qt::NoModifier,
                          QPoint(edit->width() - 2, edit->height() / 2));
        QCOMPARE(Selected(), 7);
        QCOMPARE(edit->selectedText().size(), 1);
    }

    void leavingWithWrongLengthIsRefused() {
        edit->setText("7:05:00"); // put in by the owner: stays until the user leaves
        QCOMPARE(edit->text(), QString("7:05:00"));
        QString shown;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box) {
                shown = box->text();
                box->accept();
            }
        });
        closer.start(10);
        other->setFocus();
        QTRY_COMPARE(shown, QString("无效时间"));
        QTRY_COMPARE(edit->text(), QString("00:00:00"));
        QTRY_VERIFY(edit->hasFocus());
    }

    void leavingWithMoreThanEightCharactersIsRefused() {
        for (const QString text : {"12:30:000", "12:30:00 ", "112:30:00"}) {
            edit->setFocus();
            QTRY_VERIFY(edit->hasFocus());
            edit->setText(text); // put in by the owner
            QString shown;
            QTimer closer;
            connect(&closer, &QTimer::timeout, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box) {
                    shown = box->text();
                    box->accept();
                }
            });
            closer.start(10);
            other->setFocus();
            QTRY_COMPARE(shown, QString("无效时间"));
            QTRY_COMPARE(edit->text(), QString("00:00:00"));
            QTRY_VERIFY(edit->hasFocus());
        }
    }

    void leavingWithEightCharactersIsQuiet() {
        edit->setText("ab:cd:ef");
        bool shown = false;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (QApplication::activeModalWidget()) {
                shown = true;
                QApplication::activeModalWidget()->close();
            }
        });
        closer.start(10);
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        QVERIFY(Settle()); // the check on leaving runs from the event loop
        QVERIFY(!shown);
        QCOMPARE(edit->text(), QString("ab:cd:ef"));
    }

    void rulesTable() {
        QVERIFY(Text_TimeBox::Accepts("00:00:00", 0, '2'));
        QVERIFY(!Text_TimeBox::Accepts("09:00:00", 0, '2'));
        QVERIFY(!Text_TimeBox::Accepts("00:00:00", 0, '3'));
        QVERIFY(Text_TimeBox::Accepts("20:00:00", 1, '3'));
        QVERIFY(!Text_TimeBox::Accepts("20:00:00", 1, '4'));
        QVERIFY(Text_TimeBox::Accepts("10:00:00", 1, '9'));
        QVERIFY(!Text_TimeBox::Accepts("00:00:00", 3, '6'));
        QVERIFY(Text_TimeBox::Accepts("00:00:00", 7, '9'));
        QVERIFY(!Text_TimeBox::Accepts("00:00:00", 4, 'x'));
    }
};

QTEST_MAIN(TestTimeBox)
#include "test_time_box.moc"
