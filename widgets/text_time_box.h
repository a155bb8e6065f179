// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>

#include <QLineEdit>

// Turns a QLineEdit into a masked "hh:mm:ss" entry: always eight characters, one digit
// selected so typing overwrites it, hours never above 23, minute and second tens at most 5.
class Text_TimeBox : public QObject {
    Q_OBJECT
public:
    explicit Text_TimeBox(QObject* parent = nullptr) : QObject(parent) {}

    // Attaches to box and styles it; may be called again with the same box, which restyles
    // it and resets the text to "00:00:00".
    void Attach(QLineEdit* box);

    // Whether a digit may stand at position p of text (the typing rules).
    static bool Accepts(const QString& text, int p, QChar digit);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SelectAt(int p);
    int Position() const;
    bool KeyPress(class QKeyEvent* e);
    // A digit typed at position p: stored when the rules allow it, the next digit selected.
    void TypeDigit(int p, QChar digit);
    void CheckOnLeave();

    QPointer<QLineEdit> Cls_Text;
    bool checking_ = false;
};
