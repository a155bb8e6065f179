// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/application.h"

#include "app/follow_central.h"
#include "core/play_log.h"
#include "windows/main/schedule_windows.h"

#include <QApplication>

Application::Application(std::unique_ptr<Conn> conn, ProgramVars vars)
    : core_(std::move(conn), std::move(vars),
            [](PowerOff& powerOff) {
                return std::make_unique<MessageBoxShutdownPrompt>(powerOff, nullptr);
            }),
      window_(core_.Vars(), core_.Store(), core_.AudioPlayer(), core_.Engine()) {
    QObject::connect(&core_.Records(), &RecordWriter::Written, &window_, &MainForm::RecordsChanged);
    window_.ShowClockState(core_.ClockProblem());
    core_.onClockSync = [this](const QString& text) { window_.ShowClockState(text); };
    // At the end every relay goes off, also one switched on ahead of a bell not yet rung.
    window_.onExit = [this] {
        core_.Engine().Switch().OffExcept();
        QApplication::quit();
    };
}

void Application::Follow(const QString& central, const QString& site,
                         CentralFollower::Timing timing) {
    CentralFollower& follower = core_.Follow(central, site, timing);
    ShowFollower(follower, window_);
    follower.Start();
}
