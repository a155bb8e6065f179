// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/text_time_box.h"

#include "widgets/art.h"

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>

namespace {

const QString kZero = QStringLiteral("00:00:00");

bool IsColon(int p) {
    return p == 2 || p == 5;
}

// Lets the line edit handle an event itself first (its protected handler, reached
// through QObject's public one), so the rules below can correct what it did.
void Forward(QLineEdit* box, QEvent* e) {
    static_cast<QObject*>(box)->event(e);
}

// The digit left of position p, over a colon; the first stays where it is.
int DigitBefore(int p) {
    int c = p;
    if (c > 0) {
        c -= 1;
        if (IsColon(c)) {
            c -= 1;
        }
    }
    return c;
}

// The digit right of position p, over a colon; the last stays where it is.
int DigitAfter(int p) {
    int c = p;
    if (c < 7) {
        c += 1;
        if (IsColon(c)) {
            c += 1;
        }
    }
    return std::min(c, 7);
}

// One digit typed without Ctrl, Alt or Meta.
bool IsPlainDigit(const QKeyEvent* e) {
    const QString typed = e->text();
    return typed.size() == 1 && typed[0] >= QLatin1Char('0') && typed[0] <= QLatin1Char('9') &&
           !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

} // namespace

void Text_TimeBox::Attach(QLineEdit* box) {
    if (Cls_Text && Cls_Text != box) {
        Cls_Text->removeEventFilter(this);
    }
    if (Cls_Text != box) {
        box->installEventFilter(this);
    }
    Cls_Text = box;
    QFont f = box->font();
    f.setBold(true);
    box->setFont(f);
    box->setFrame(false);
    box->setStyleSheet(QStringLiteral("QLineEdit { background-color: rgb(200, 230, 255); "
                                      "border: 1px solid rgb(110, 110, 110); padding: 0px; }"));
    box->setFixedSize(900 / kTwipsPerPixel, 250 / kTwipsPerPixel + 3);
    box->setAcceptDrops(false);
    box->setDragEnabled(false);
    box->setAttribute(Qt::WA_InputMethodEnabled, false);
    box->setText(kZero);
}

bool Text_TimeBox::Accepts(const QString& text, int p, QChar digit) {
    if (!digit.isDigit() || digit.unicode() > '9') {
        return false;
    }
    const int d = digit.digitValue();
    auto at = [&](int i) {
        return i < text.size() && text[i].isDigit() ? text[i].digitValue() : 0;
    };
    switch (p) {
    case 0:
        return d <= 2 && 10 * d + at(1) <= 23;
    case 1:
        return 10 * at(0) + d <= 23;
    case 3:
    case 6:
        return d <= 5;
    default:
        return true;
    }
}

int Text_TimeBox::Position() const {
    return Cls_Text->hasSelectedText() ? Cls_Text->selectionStart() : Cls_Text->cursorPosition();
}

void Text_TimeBox::SelectAt(int p) {
    Cls_Text->setSelection(p, 1);
}

bool Text_TimeBox::eventFilter(QObject* watched, QEvent* event) {
    // Never a static cast here: while the line edit is being destroyed its QWidget part still
    // receives events (focus out, hide), but it is no longer a QLineEdit. qobject_cast asks
    // the object itself, which then answers as the QWidget it has become.
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (!box || box != Cls_Text.data()) {
        return false;
    }
    switch (event->type()) {
    case QEvent::FocusIn:
        Forward(box, event);
        SelectAt(0);
        return true;
    case QEvent::FocusOut:
        Forward(box, event);
        // Checked once the focus change is complete, so the box can take the focus back.
        QMetaObject::invokeMethod(this, &Text_TimeBox::CheckOnLeave, Qt::QueuedConnection);
        return true;
    case QEvent::KeyPress:
        return KeyPress(static_cast<QKeyEvent*>(event));
    case QEvent::ShortcutOverride: {
        // Paste, cut and undo would bypass the typing rules.
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->matches(QKeySequence::Paste) || k->matches(QKeySequence::Cut) ||
            k->matches(QKeySequence::Undo) || k->matches(QKeySequence::Redo)) {
            event->accept();
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        Forward(box, event);
        int c = box->cursorPosition();
        if (c > 7 || IsColon(c)) {
            c -= 1;
        }
        SelectAt(std::max(0, c));
        return true;
    }
    case QEvent::MouseMove:
        // No drag selection: the selection stays one character.
        return static_cast<QMouseEvent*>(event)->buttons() != Qt::NoButton;
    case QEvent::MouseButtonRelease:
        Forward(box, event);
        if (box->selectedText().size() > 1) {
            SelectAt(box->selectionStart());
        }
        return true;
    case QEvent::InputMethod:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

bool Text_TimeBox::KeyPress(QKeyEvent* e) {
    const int p = Position();
    switch (e->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return false; // focus moves and dialog buttons work as usual
    case Qt::Key_Delete:
        Cls_Text->setText(kZero);
        SelectAt(0);
        return true;
    case Qt::Key_Left:
        SelectAt(DigitBefore(p));
        return true;
    case Qt::Key_Right:
        SelectAt(DigitAfter(p));
        return true;
    case Qt::Key_Home:
    case Qt::Key_End:
        SelectAt(0);
        return true;
    default:
        break;
    }
    if (IsPlainDigit(e)) {
        TypeDigit(p, e->text()[0]);
        return true;
    }
    // Anything else (letters, ":", blanks, Backspace, shortcuts) is discarded; the
    // selection stays on a digit.
    int c = std::min(p, 7);
    if (IsColon(c)) {
        c += 1;
    }
    SelectAt(c % 8);
    return true;
}

void Text_TimeBox::TypeDigit(int p, QChar digit) {
    QString text = Cls_Text->text();
    if (p < text.size() && !IsColon(p) && Accepts(text, p, digit)) {
        text[p] = digit;
        Cls_Text->setText(text);
        int c = p + 1;
        if (IsColon(c)) {
            c += 1;
        }
        SelectAt(c % 8);
    } else {
        SelectAt(std::min(p, std::max(0, int(text.size()) - 1)));
    }
}

void Text_TimeBox::CheckOnLeave() {
    QLineEdit* box = Cls_Text;
    if (!box || checking_ || box->hasFocus() || box->text().size() == 8) {
        return;
    }
    checking_ = true;
    QMessageBox::information(box->window(), QStringLiteral("Belvoran"), QStringLiteral("无效时间"));
    if (Cls_Text) {
        box->setText(kZero);
        box->window()->activateWindow();
        box->setFocus(Qt::OtherFocusReason);
    }
    checking_ = false;
}
