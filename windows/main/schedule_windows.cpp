// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/main/schedule_windows.h"

#include "core/play_log.h"

#include "system/power_off.h"

namespace {

const char kKeepsScheduleRunning[] = "belvoranKeepsScheduleRunning";

} // namespace

bool KeepsScheduleRunning(const QWidget* window) {
    return window && window->property(kKeepsScheduleRunning).toBool();
}

void SetKeepsScheduleRunning(QWidget* window) {
    window->setProperty(kKeepsScheduleRunning, true);
}

void MessageBoxShutdownPrompt::OpenShutdownCountdown(std::function<void(bool)> closed) {
    PlayLog(QStringLiteral("shutdown countdown opened"));
    msg_ = MsgBlock{QStringLiteral("关机提示"), QString(), MsgMode::Shutdown, false};
    box_ = new MessageBox(
        msg_, [this](QString* reason) { return powerOff_.PowerOffNow(reason); }, parent_);
    SetKeepsScheduleRunning(box_);
    box_->setAttribute(Qt::WA_DeleteOnClose);
    // Not exec(): a nested wait here would hold up the tick that opened the box.
    box_->setWindowModality(Qt::NonModal);
    QObject::connect(box_, &QDialog::finished, box_, [box = box_.data(), closed] {
        if (closed) {
            closed(box->PoweredOff());
        }
    });
    box_->show();
    box_->raise();
    box_->activateWindow();
}
