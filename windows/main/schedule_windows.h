// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "schedule/shutdown_check.h"
#include "widgets/message_box.h"

#include <QPointer>
#include <functional>

class PowerOff;

// Where the schedule meets the windows: which of the program's windows it keeps running
// behind, and the shutdown countdown it opens.

// Whether a window of the program is one the schedule keeps running behind (the shutdown
// countdown: the bells must ring while it waits).
bool KeepsScheduleRunning(const QWidget* window);
// Marks window as one the schedule keeps running behind (see KeepsScheduleRunning).
void SetKeepsScheduleRunning(QWidget* window);

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
