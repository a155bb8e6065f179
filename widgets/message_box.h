#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>

#include "schedule/shutdown_check.h"
#include "widgets/skin.h"

class MyButton;
class PowerOff;
struct ProgramVars;

// The program's own modal message box. The caller fills MsgTitle, MsgText and MsgMode of
// the program-wide variables, opens it, and reads MsgResult: mode 1 is a notice (OK
// only), mode 2 a confirmation, mode 3 the five-second shutdown countdown.
class MessageBox : public QDialog {
    Q_OBJECT
public:
    MessageBox(ProgramVars& vars, PowerOff* powerOff = nullptr, QWidget* parent = nullptr);

    // True once the countdown ended and the system accepted the power-off.
    bool PoweredOff() const { return poweredOff_; }
    // Runs after an accepted power-off; ends the program unless a test replaces it.
    std::function<void()> onPoweredOff;

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

    ProgramVars& vars_;
    PowerOff* powerOff_;
    Skin skin_;
    bool poweredOff_ = false;
};

// Fills the calling block, opens the box modally and returns MsgResult.
bool ShowMessage(ProgramVars& vars, QWidget* parent, const QString& title, const QString& text,
                 int mode);

// The shutdown countdown of the daily shutdown check, shown in the real message box.
class MessageBoxShutdownPrompt : public ShutdownPrompt {
public:
    MessageBoxShutdownPrompt(ProgramVars& vars, PowerOff& powerOff, QWidget* parent)
        : vars_(vars), powerOff_(powerOff), parent_(parent) {}
    bool RunShutdownCountdown() override;

private:
    ProgramVars& vars_;
    PowerOff& powerOff_;
    QWidget* parent_;
};
