// SPDX-License-Identifier: GPL-3.0-or-later
// The program by keyboard alone, as a person without a mouse uses it: from the main window
// into the settings, to the week page, an event added through the editor, and out again. And
// what an assistive tool reads of the same windows, and how they look under a dark desktop.
#include "core/program_vars.h"
#include "core/time_text.h"
#include "store/conn.h"
#include "support/engine_rig.h"
#include "widgets/my_button.h"
#include "widgets/skin.h"
#include "widgets/ui_font.h"
#include "windows/editor/modify_event.h"
#include "windows/main/main_form.h"
#include "windows/settings/setting_form.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

namespace {

struct Rig : EngineRig {
    Rig() {
        clock.Set(QDateTime(QDate::currentDate(), QTime(8, 0)));
        bell = Sound(QStringLiteral("bell.wav"));
        player.durations[bell] = 3;
        form = std::make_unique<MainForm>(vars, *store.conn, player, engine);
        form->onExit = [] {};
    }
    QString bell;
    std::unique_ptr<MainForm> form;
};

// Runs step once a window of type W is the active modal one. It polls, so it runs inside the
// modal loop of the window that opened it.
template <typename W> void When(std::function<void(W*)> step) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget()); w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            step(w);
        }
    });
    timer->start(20);
}

QWidget* Focused() {
    return QApplication::focusWidget();
}

void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(Focused(), key, mods);
}

// Presses Tab until target has the focus; false after a whole round without it.
bool TabTo(QWidget* target) {
    for (int i = 0; i < 80 && !target->hasFocus(); ++i) {
        Key(Qt::Key_Tab);
    }
    return target->hasFocus();
}

void Type(const QString& text) {
    for (QChar ch : text) {
        QTest::sendKeyEvent(QTest::Click, Focused(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

// A control, not an inner part of one (a combo box's or date box's own line edit).
bool IsControl(QWidget* w) {
    QWidget* p = w->parentWidget();
    return (w->focusPolicy() & Qt::TabFocus || qobject_cast<MyButton*>(w)) &&
           !qobject_cast<QComboBox*>(p) && !qobject_cast<QAbstractSpinBox*>(p);
}

// What an assistive tool reads: every visible control has a name, every image button is a
// button, which can be pressed while enabled.
void CheckReadable(QWidget* window) {
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->window() != window || !IsControl(w)) {
            continue;
        }
        const QString where = window->objectName() + "/" + w->objectName();
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        QVERIFY2(a, qPrintable(where));
        QVERIFY2(!a->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(where));
        if (qobject_cast<MyButton*>(w)) {
            QVERIFY2(a->role() == QAccessible::Button, qPrintable(where));
            QVERIFY2(!w->isEnabled() ||
                         (a->actionInterface() && a->actionInterface()->actionNames().contains(
                                                      QAccessibleActionInterface::pressAction())),
                     qPrintable(where));
        }
    }
}

template <typename T = MyButton> T* Find(QWidget* window, const char* name) {
    T* w = window->findChild<T*>(name);
    if (!w) {
        qFatal("no %s", name);
    }
    return w;
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

private slots:
    void anEventAddedFromTheMainWindowByKeyboardAlone() {
        Rig r;
        r.form->show();
        QApplication::setActiveWindow(r.form.get());
        QVERIFY(QTest::qWaitForWindowActive(r.form.get()));
        CheckReadable(r.form.get());
        QTRY_COMPARE(Focused(), Find(r.form.get(), "MyButton1")); // 进入设置
        // Tab goes round the main window: records, hide, close, and back.
        for (const char* next : {"MyBt_Records", "MyButton_Hide", "yButton_Close", "MyButton1"}) {
            Key(Qt::Key_Tab);
            QCOMPARE(Focused()->objectName(), QString(next));
        }
        QString week;
        bool editorSeen = false, chooserSeen = false;
        When<SettingForm>([&](SettingForm* settings) {
            for (int i = 0; i < SettingForm::kPageCount; ++i) {
                settings->SelectPage(i); // what a screen reader finds on each page
                CheckReadable(settings);
            }
            settings->SelectPage(SettingForm::kOptionsPage);
            QTRY_COMPARE(Focused(), Find(settings, "Menu(0)"));
            Key(Qt::Key_Tab);
            QCOMPARE(Focused(), Find(settings, "MenuGroup(0)")); // 一周设置
            Key(Qt::Key_Return);
            QCOMPARE(settings->CurGroup(), 0);
            auto* weekday = Find<QComboBox>(settings, "Combo_Week");
            QVERIFY(TabTo(weekday));
            Key(weekday->currentIndex() < 6 ? Qt::Key_Down : Qt::Key_Up); // another day
            week = weekday->currentText();
            QVERIFY(TabTo(Find(settings, "MyBt_AddEvent")));
            When<ModifyEvent>([&](ModifyEvent* editor) {
                editorSeen = true;
                CheckReadable(editor);
                QTRY_COMPARE(Focused(), Find<QComboBox>(editor, "Combo_EventName"));
                Type(QStringLiteral("课间操"));
                Key(Qt::Key_Tab);
                QCOMPARE(Focused()->objectName(), QString("Text_Time"));
                Type(QStringLiteral("094000"));
                Key(Qt::Key_Tab);
                QCOMPARE(Focused()->objectName(), QString("Check1"));
                Key(Qt::Key_Tab);
                QCOMPARE(Focused()->objectName(), QString("MyBt_AddSound"));
                Key(Qt::Key_Backtab);
                QCOMPARE(Focused()->objectName(), QString("Check1"));
                Key(Qt::Key_Tab);
                When<QFileDialog>([&](QFileDialog* chooser) {
                    chooserSeen = true;
                    QTRY_VERIFY(qobject_cast<QLineEdit*>(Focused()));
                    Type(r.bell);
                    Key(Qt::Key_Return);
                    QTRY_VERIFY(!chooser->isVisible());
                });
                Key(Qt::Key_Space); // 添加: the file chooser
                QTRY_VERIFY(!editor->Measuring());
                QCOMPARE(Find<QLabel>(editor, "Lab_path")->text(), r.bell);
                QApplication::setActiveWindow(editor); // as the desktop does when the chooser goes
                QTRY_VERIFY(Focused() && Focused()->window() == editor);
                QVERIFY(TabTo(Find(editor, "MyButton1"))); // 确定
                Key(Qt::Key_Return);
            });
            Key(Qt::Key_Space); // 添加: the editor
            QApplication::setActiveWindow(settings);
            QTRY_VERIFY(Focused() && Focused()->window() == settings);
            Key(Qt::Key_Escape); // the settings window closes
        });
        QTimer::singleShot(60000, [] { // a step that failed leaves no window open for ever
            while (QWidget* w = QApplication::activeModalWidget()) {
                w->close();
            }
        });
        Key(Qt::Key_Space);
        QVERIFY(editorSeen && chooserSeen);
        QVERIFY(!QApplication::activeModalWidget());
        QVector<EventRow> rows;
        QVERIFY(r.store.conn->DayEvents(week, &rows));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].event, QString("课间操"));
        QCOMPARE(rows[0].startTime, QString("09:40:00"));
        QCOMPARE(rows[0].musicFile, r.bell);
    }

    // A dark desktop palette does not reach the skinned windows: their captions stay dark on
    // their light faces, their boxes light with dark text.
    void aDarkDesktopLeavesTheSkinAlone() {
        const QPalette desktop = QApplication::palette();
        QPalette dark(QColor(230, 230, 230), QColor(40, 40, 44));
        dark.setColor(QPalette::Base, QColor(30, 30, 34));
        dark.setColor(QPalette::Text, QColor(235, 235, 235));
        QApplication::setPalette(dark);
        {
            Rig r;
            SettingForm settings(r.vars, *r.store.conn, r.player, r.form->Settings(), r.form.get());
            ModifyEvent editor(r.vars, *r.store.conn, r.player, QStringLiteral("星期一"), 0);
            QVERIFY(editor.Load());
            const QPalette skin = SkinPalette();
            // A theme that puts its own font on the application after start (qt6ct) leaves
            // the captions their size, and disabled captions are etched in the skin's light.
            QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 16));
            for (QWidget* window :
                 {static_cast<QWidget*>(r.form.get()), static_cast<QWidget*>(&settings),
                  static_cast<QWidget*>(&editor)}) {
                for (MyButton* b : window->findChildren<MyButton*>()) {
                    QCOMPARE(b->CaptionColor(), b->isEnabled() ? MyButton::kCaptionEnabled
                                                               : MyButton::kCaptionDisabled);
                    const QLabel* caption = b->findChild<QLabel*>(QStringLiteral("Label1"));
                    QCOMPARE(caption->font().pixelSize(), UiFont().pixelSize());
                    QVERIFY(
                        caption->palette().color(QPalette::Disabled, QPalette::Light).lightness() >
                        200);
                }
                for (QWidget* w : window->findChildren<QWidget*>()) {
                    if (w->window() != window || w->styleSheet().contains("color")) {
                        continue; // the tray menu is the desktop's; a style sheet sets its own
                    }
                    const QString where = window->objectName() + "/" +
                                          w->parentWidget()->objectName() + "/" + w->objectName();
                    QVERIFY2(
                        w->palette().color(QPalette::Active, QPalette::WindowText).lightness() <=
                            128,
                        qPrintable(where));
                    if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w) &&
                        !qobject_cast<QAbstractItemView*>(w)) {
                        continue; // the boxes are what show text on a base
                    }
                    QVERIFY2(w->palette().color(QPalette::Active, QPalette::Text) ==
                                 skin.color(QPalette::Text),
                             qPrintable(where));
                    QVERIFY2(w->palette().color(QPalette::Active, QPalette::Base) ==
                                 skin.color(QPalette::Base),
                             qPrintable(where));
                }
                for (QComboBox* box : window->findChildren<QComboBox*>()) {
                    // The list is a menu in the desktop's colours, readable in them.
                    const QPalette list = box->view()->palette();
                    QVERIFY2(qAbs(list.color(QPalette::Text).lightness() -
                                  list.color(QPalette::Base).lightness()) > 100,
                             qPrintable(box->objectName()));
                }
            }
        }
        QApplication::setPalette(desktop);
        QApplication::setFont(UiFont());
    }
};

QTEST_MAIN(TestKeyboard)
#include "test_keyboard.moc"
