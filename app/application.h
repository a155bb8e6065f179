// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/program_core.h"
#include "windows/main/main_form.h"

#include <memory>

// One run of the program on the desktop: the core that rings the bells, and the main window,
// which only shows and drives it, with the tray and the shutdown countdown box.
class Application {
public:
    // Takes the opened store and the settings already loaded from it.
    Application(std::unique_ptr<Conn> conn, ProgramVars vars);

    // Keeps the store a copy of site of the central timetable, reloading the schedule after
    // each changed copy, and shows an outage in the window and the tray tip.
    void Follow(const QString& central, const QString& site,
                CentralFollower::Timing timing = CentralFollower::Timing{});
    CentralFollower* Follower() { return core_.Follower(); }

    ProgramCore& Core() { return core_; }
    MainForm& Window() { return window_; }
    ScheduleEngine& Engine() { return core_.Engine(); }

private:
    ProgramCore core_;
    MainForm window_;
};
