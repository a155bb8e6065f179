#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>

#include "schedule/shutdown_check.h"
#include "widgets/skin.h"

class MyButton;
class PowerOff;

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

// The program's own modal message box: mode 1 is a notice (OK only), mode 2 a
// confirmation, mode 3 the five-second shutdown countdown.
class MessageBox : public QDialog {
    Q_OBJECT
public:
    // A power-off that is refused leaves this notice up for so long, then closes it: nobody
    // may be there to click it.
    static constexpr int kRefusalNoticeSeconds = 60;

    MessageBox(MsgBlock& msg, PowerOff* powerOff = nullptr, QWidget* parent = nullptr);

    // True once the countdown ended and the system accepted the power-off.
    bool PoweredOff() const { return poweredOff_; }
    // Runs after an accepted power-off; ends the program unless a test replaces it.
    std::function<void()> onPoweredOff;
    // The focus starts on 取消, so Enter does not confirm (a question whose yes is costly).
    bool cancelByDefault = false;

    QLabel* Label1 = nullptr;
    QLabel* Image1 = nullptr;
    MyButton* MyButton1 = nullptr;
    MyButton* MyButton2 = nullptr;
    QTimer Timer1;
    int SecondsLeft = 0;

    void done(int result) override;

protected:
    void showEvent(QShowEvent*) override;

private:
    void CountdownStep();
    void Confirm();
    // Shows text in Label1, growing the box to fit it.
    void SetText(const QString& text);

    MsgBlock& msg_;
    PowerOff* powerOff_;
    Skin skin_;
    bool poweredOff_ = false;
};

// Whether a window of the program is one the schedule keeps running behind (the shutdown
// countdown: the bells must ring while it waits).
bool KeepsScheduleRunning(const QWidget* window);
// Marks window as one the schedule keeps running behind (see KeepsScheduleRunning).
void SetKeepsScheduleRunning(QWidget* window);

// Fills a calling block, opens the box modally and returns MsgResult.
bool ShowMessage(QWidget* parent, const QString& title, const QString& text, MsgMode mode);

// The shutdown countdown of the daily shutdown check, shown in the real message box. The
// box is opened without waiting for it, so the schedule keeps ticking while it is up.
class MessageBoxShutdownPrompt : public ShutdownPrompt {
public:
    MessageBoxShutdownPrompt(PowerOff& powerOff, QWidget* parent)
        : powerOff_(powerOff), parent_(parent) {}
    void OpenShutdownCountdown(std::function<void(bool poweringOff)> closed) override;
    // The box while it is open, else null.
    MessageBox* OpenBox() const { return box_; }

private:
    PowerOff& powerOff_;
    QWidget* parent_;
    MsgBlock msg_;
    QPointer<MessageBox> box_;
};
