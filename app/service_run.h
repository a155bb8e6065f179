// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/program_core.h"

#include <QObject>
#include <memory>

class ServiceNotify;

// One run of the program as a system service: the core without any window. What the main
// window would show goes to the log as warnings and errors, the daily power-off asks logind
// at its time without a countdown, and systemd hears when the day is armed, that the
// schedule still ticks, and when the service stops.
class ServiceRun {
public:
    // Takes the opened store and the settings already loaded from it.
    ServiceRun(std::unique_ptr<Conn> conn, ProgramVars vars, ServiceNotify& notify);

    // Keeps the store a copy of site of the central timetable, reloading the lists and
    // today's events after each changed copy.
    void Follow(const QString& central, const QString& site,
                CentralFollower::Timing timing = CentralFollower::Timing{});
    // Arms the day and tells systemd the service is ready.
    void Start();
    // The end, from SIGTERM or the daily power-off: the program's own way (what plays
    // stops, relays go off, records are written), then the event loop ends with status.
    void Stop(int status = 0);

    ProgramCore& Core() { return core_; }

private:
    void LogProblems();
    void ShowStatus();

    ServiceNotify& notify_;
    ProgramCore core_;
    QObject context_; // the receiver of this run's connections
    qsizetype unplayable_ = 0;
    qsizetype notRung_ = 0;
    bool stopping_ = false;
};
