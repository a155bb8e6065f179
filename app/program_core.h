// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/remote_control.h"
#include "audio/gst_player.h"
#include "central/follower.h"
#include "core/clock.h"
#include "core/program_vars.h"
#include "schedule/schedule_engine.h"
#include "store/conn.h"
#include "store/record_writer.h"
#include "system/clock_sync.h"
#include "system/power_off.h"
#include "system/sleep_inhibitor.h"

#include <QFutureWatcher>
#include <QTimer>

#include <functional>
#include <memory>

// What rings the bells, with a window or without one: the store, the player, the schedule
// engine, the record writer, the central follower, the daily power-off and the sleep lock.
// The desktop and the service build on it, each with its own way of showing problems and
// its own shutdown prompt. What became of each event goes to the store's record through a
// writer of its own.
class ProgramCore {
public:
    // The prompt the daily shutdown check opens; it powers off through the given PowerOff.
    using PromptMaker = std::function<std::unique_ptr<ShutdownPrompt>(PowerOff&)>;

    // Takes the opened store and the settings already loaded from it.
    ProgramCore(std::unique_ptr<Conn> conn, ProgramVars vars, const PromptMaker& makePrompt);
    ~ProgramCore();
    ProgramCore(const ProgramCore&) = delete;
    ProgramCore& operator=(const ProgramCore&) = delete;

    // Records are kept this many days back from today (and today's).
    static constexpr int kRecordDays = 60;

    // Keeps the store a copy of site of the central timetable: after each changed copy the
    // lists the engine looks up and today's events are read again. Each play record from
    // then on is also queued for the server, and this computer's state handed to the
    // follower to send. The caller shows what the follower does, then starts it.
    CentralFollower& Follow(const QString& central, const QString& site,
                            CentralFollower::Timing timing = CentralFollower::Timing{});
    CentralFollower* Follower() { return follower_.get(); }

    ScheduleEngine& Engine() { return engine_; }
    Conn& Store() { return *conn_; }
    GstPlayer& AudioPlayer() { return player_; }
    ProgramVars& Vars() { return vars_; }
    RecordWriter& Records() { return records_; }
    // Answers the control socket's status, play and stop.
    RemoteControl& Remote() { return remote_; }

    // This computer's clock's synchronisation in words ("" when synchronised); onClockSync
    // hears each change.
    QString ClockProblem() const { return ClockSyncText(clockSync_); }
    std::function<void(const QString&)> onClockSync;

    // The end without a window: the schedule stops, what plays stops, the store closes and
    // every relay goes off, also one switched on ahead of a bell not yet rung.
    void End();

private:
    void PruneRecords();
    // Finds, off this thread, which device the default output plays to: a zone naming it
    // shares its branch with the zones on the default output.
    void FindDefaultOutput();
    void WatchOutputs();
    // Holds the computer awake while today has bells left.
    void KeepAwakeForBells();
    // Reads the clock's synchronisation now and every few minutes; logs each change once.
    void WatchClockSync();
    // What this computer's row of 计算机状态 says now (central/reports.h).
    Heartbeat HeartbeatNow() const;
    // Hands the follower this computer's state now, at each change and every few seconds,
    // and the records to send as they are written.
    void ReportToFollower();

    ProgramVars vars_;
    std::unique_ptr<Conn> conn_;
    SystemClock clock_;
    GstPlayer player_;
    LogindPowerOff powerOff_;
    std::unique_ptr<ShutdownPrompt> prompt_;
    ScheduleEngine engine_;
    RecordWriter records_;
    std::unique_ptr<CentralFollower> follower_;
    QTimer outputsTimer_;
    QFutureWatcher<QString> defaultOutput_;
    LogindSleepLock sleepLock_;
    BellsKeepAwake keepAwake_{sleepLock_};
    RemoteControl remote_;
    ClockSync clockSync_;
    QTimer clockTimer_;
    QTimer heartbeatTimer_;
};
