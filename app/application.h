#pragma once

#include "app/remote_control.h"
#include "audio/gst_player.h"
#include "central/follower.h"
#include "core/clock.h"
#include "core/program_vars.h"
#include "schedule/schedule_engine.h"
#include "store/conn.h"
#include "store/record_writer.h"
#include "system/power_off.h"
#include "system/sleep_inhibitor.h"
#include "windows/main/main_form.h"
#include "windows/main/schedule_windows.h"

#include <QFutureWatcher>
#include <QTimer>

#include <memory>

// One run of the program: it owns the store, the player and the schedule engine, and
// wires them to the main window, which only shows and drives them. What became of each
// event goes to the store's record through a writer of its own.
class Application {
public:
    // Takes the opened store and the settings already loaded from it.
    Application(std::unique_ptr<Conn> conn, ProgramVars vars);
    ~Application();

    // Records are kept this many days back from today (and today's).
    static constexpr int kRecordDays = 60;

    // Keeps the store a copy of site of the central timetable, reloading the schedule after
    // each changed copy, and shows an outage in the window and the tray tip.
    void Follow(const QString& central, const QString& site,
                CentralFollower::Timing timing = CentralFollower::Timing{});
    CentralFollower* Follower() { return follower_.get(); }

    MainForm& Window() { return window_; }
    ScheduleEngine& Engine() { return engine_; }
    // Answers the control socket's status, play and stop.
    RemoteControl& Remote() { return remote_; }

private:
    void PruneRecords();
    // Finds, off this thread, which device the default output plays to: a zone naming it
    // shares its branch with the zones on the default output.
    void FindDefaultOutput();
    // Holds the computer awake while today has bells left.
    void KeepAwakeForBells();

    ProgramVars vars_;
    std::unique_ptr<Conn> conn_;
    SystemClock clock_;
    GstPlayer player_;
    LogindPowerOff powerOff_;
    MessageBoxShutdownPrompt prompt_;
    ScheduleEngine engine_;
    MainForm window_;
    RecordWriter records_;
    std::unique_ptr<CentralFollower> follower_;
    RemoteControl remote_;
    QTimer outputsTimer_;
    QFutureWatcher<QString> defaultOutput_;
    LogindSleepLock sleepLock_;
    BellsKeepAwake keepAwake_{sleepLock_};
};
