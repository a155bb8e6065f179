// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <functional>

#include "widgets/skin.h"

class MyButton;
class QTimer;

// The box's modes, as numbered in its calling block.
enum class MsgMode { Notice = 1, Confirm = 2, Shutdown = 3 };

// The message box's calling block: the caller fills title, text and mode, opens the box,
// and reads MsgResult (true when the user confirmed).
struct MsgBlock {
    QString MsgTitle;
    QString MsgText;
    ::MsgMode MsgMode = ::MsgMode::Notice;
    bool MsgResult = false;
};

// Asks the system to power off now: true when accepted, else false with *reason saying why.
using PowerOffRequest = std::function<bool(QString* reason)>;

// The program's own modal message box: mode 1 is a notice (OK only), mode 2 a
// confirmation, mode 3 the five-second shutdown countdown.
class MessageBox : public QDialog {
    Q_OBJECT
public:
    // A power-off that is refused leaves this notice up for so long, then closes it: nobody
    // may be there to click it.
    static constexpr int kRefusalNoticeSeconds = 60;

    // The countdown ends by calling powerOff; without one it says there is no way to.
    MessageBox(MsgBlock& msg, PowerOffRequest powerOff = {}, QWidget* parent = nullptr);

    // True once the countdown ended and the system accepted the power-off.
    bool PoweredOff() const { return poweredOff_; }
    // Runs after an accepted power-off; ends the program unless a test replaces it.
    std::function<void()> onPoweredOff;
    // The focus starts on 取消, so Enter does not confirm (a question whose yes is costly).
    bool cancelByDefault = false;

    void done(int result) override;

protected:
    void showEvent(QShowEvent*) override;

private:
    void BuildControls();
    void Wire();
    void Load();
    void CountdownStep();
    void Confirm();
    // Shows text in its label, growing the box to fit it.
    void SetText(const QString& text);

    MsgBlock& msg_;
    PowerOffRequest powerOff_;
    Skin skin_;
    bool poweredOff_ = false;
    int secondsLeft_ = 0;

    QLabel* text_ = nullptr;           // Label1
    QLabel* face_ = nullptr;           // Image1
    MyButton* okButton_ = nullptr;     // MyButton1
    MyButton* cancelButton_ = nullptr; // MyButton2
    QTimer* countdown_ = nullptr;      // Timer1, one tick a second
};

// Fills a calling block, opens the box modally and returns MsgResult.
bool ShowMessage(QWidget* parent, const QString& title, const QString& text, MsgMode mode);
