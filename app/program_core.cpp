// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program_core.h"

#include "app/follow_central.h"
#include "audio/output_devices.h"
#include "core/play_log.h"
#include "schedule/bell_problems.h"
#include "windows/main/central_line.h"

#include <QtConcurrent/QtConcurrentRun>

ProgramCore::ProgramCore(std::unique_ptr<Conn> conn, ProgramVars vars,
                         const PromptMaker& makePrompt)
    : vars_(std::move(vars)), conn_(std::move(conn)), prompt_(makePrompt(powerOff_)),
      engine_(vars_, *conn_, clock_, player_, prompt_.get()), records_(conn_->Path()),
      remote_(
          engine_, *conn_, clock_,
          [this] { return follower_ ? CentralLineText(follower_->State()) : QString(); },
          [this] { return ClockSyncText(clockSync_); }) {
    player_.CheckOutput(); // in the log at start-up, not at the first bell hours later
    // Events sharing a second on other zones play side by side.
    engine_.SetPlayerFactory([] { return std::make_unique<GstPlayer>(); });
    PruneRecords();
    // Queued to the writer's thread: the bell that was just rung waits for nothing.
    QObject::connect(&engine_, &ScheduleEngine::Recorded, &records_, &RecordWriter::Add);
    WatchOutputs();
    KeepAwakeForBells();
    WatchClockSync();
}

void ProgramCore::WatchClockSync() {
    const auto check = [this] {
        const ClockSync now = ReadClockSync();
        const QString was = ClockSyncText(clockSync_), text = ClockSyncText(now);
        clockSync_ = now;
        if (text == was) {
            return; // said once
        }
        PlayLog(!text.isEmpty()
                    ? QStringLiteral("warning this computer's clock is not synchronised (the "
                                     "kernel's clock discipline says so; error up to %1 s): the "
                                     "bells ring on its seconds, right or wrong")
                          .arg(now.maxErrorUs / 1e6, 0, 'f', 1)
                    : QStringLiteral("this computer's clock is synchronised again"));
        if (onClockSync) {
            onClockSync(text);
        }
    };
    check();
    QObject::connect(&clockTimer_, &QTimer::timeout, &engine_, check);
    clockTimer_.start(10 * 60 * 1000); // a clock's synchronisation changes rarely
}

ProgramCore::~ProgramCore() {
    defaultOutput_.waitForFinished();
}

void ProgramCore::End() {
    PlayLog(QStringLiteral("Belvoran ends"));
    engine_.StopSchedule();
    player_.Halt();
    conn_->Close();
    engine_.Switch().OffExcept();
}

void ProgramCore::WatchOutputs() {
    // Looked up soon after the start (today's zones read), then a few times a day: the
    // sound settings of a PA computer rarely change, and each look costs GStreamer's pulse
    // provider a little memory it never gives back.
    QObject::connect(&defaultOutput_, &QFutureWatcherBase::finished, &engine_,
                     [this] { engine_.SetDefaultOutputSink(defaultOutput_.result()); });
    QObject::connect(&outputsTimer_, &QTimer::timeout, &engine_, [this] {
        FindDefaultOutput();
        outputsTimer_.start(6 * 60 * 60 * 1000);
    });
    outputsTimer_.setSingleShot(true);
    outputsTimer_.start(3000);
}

void ProgramCore::FindDefaultOutput() {
    // It matters only when some zone names an output and some play to the default one.
    const QVector<ZoneRow>& zones = engine_.Zones();
    const bool named =
        std::any_of(zones.begin(), zones.end(), [](const ZoneRow& z) { return !z.sink.isEmpty(); });
    const bool unnamed =
        std::any_of(zones.begin(), zones.end(), [](const ZoneRow& z) { return z.sink.isEmpty(); });
    if (defaultOutput_.isRunning() || !named || !unnamed) {
        return;
    }
    defaultOutput_.setFuture(QtConcurrent::run(DefaultOutputSink));
}

void ProgramCore::KeepAwakeForBells() {
    // The label changes every second the schedule runs, the caption with the next bell.
    const auto update = [this] {
        keepAwake_.Update(engine_.Armed(), engine_.NextTime(), engine_.NextEvent(),
                          player_.IsPlaying() || engine_.BreakPlaying());
    };
    QObject::connect(&engine_, &ScheduleEngine::LabelChanged, &keepAwake_, update);
    QObject::connect(&engine_, &ScheduleEngine::CaptionChanged, &keepAwake_, update);
    QObject::connect(&player_, &Player::PlayStateChange, &keepAwake_, update);
}

void ProgramCore::PruneRecords() {
    int removed = 0;
    QString error;
    if (!conn_->PrunePlayRecords(clock_.Now().date(), kRecordDays, &removed, &error)) {
        PlayLog(QStringLiteral("cannot remove the play records older than %1 days: %2")
                    .arg(kRecordDays)
                    .arg(error));
    } else if (removed > 0) {
        PlayLog(QStringLiteral("removed %1 play records older than %2 days")
                    .arg(removed)
                    .arg(kRecordDays));
    }
}

CentralFollower& ProgramCore::Follow(const QString& central, const QString& site,
                                     CentralFollower::Timing timing) {
    follower_ = std::make_unique<CentralFollower>(central, site, conn_->Path(), timing);
    follower_->SetOutputLister([] {
        QHash<QString, QString> outputs;
        for (const OutputDevice& d : ListOutputDevices()) {
            outputs.insert(d.name, d.sink);
        }
        return outputs;
    });
    ReadEachCopy(*follower_, vars_, *conn_, engine_);
    ReportToFollower();
    records_.SendTo(site);
    PlayLog(QStringLiteral("following site %1 of the central timetable").arg(site));
    return *follower_;
}

void ProgramCore::ReportToFollower() {
    CentralFollower* follower = follower_.get();
    QObject::connect(&records_, &RecordWriter::Written, follower, [follower](bool kept) {
        if (kept) {
            follower->SendRecords();
        }
    });
    // Handed at each change the engine or the follower signals, and every few seconds for
    // the rest; the follower sends a changed state at once, and each minute in any case.
    const auto hand = [this, follower] { follower->SetHeartbeat(HeartbeatNow()); };
    QObject::connect(follower, &CentralFollower::StateChanged, follower, hand);
    QObject::connect(&engine_, &ScheduleEngine::CaptionChanged, follower, hand);
    QObject::connect(&engine_, &ScheduleEngine::TodayProblemsChanged, follower, hand);
    QObject::connect(&engine_, &ScheduleEngine::NotRungChanged, follower, hand);
    QObject::connect(&engine_, &ScheduleEngine::ZoneProblem, follower, hand);
    QObject::connect(&heartbeatTimer_, &QTimer::timeout, follower, hand);
    heartbeatTimer_.start(15 * 1000);
    hand();
}

Heartbeat ProgramCore::HeartbeatNow() const {
    Heartbeat beat = BareHeartbeat();
    if (engine_.Armed()) {
        beat.nextBell = engine_.NextTime() + QLatin1Char(' ') + engine_.NextEvent();
    }
    engine_.TodayBellHours(&beat.firstBell, &beat.lastBell);
    const CentralState& central = follower_->State();
    beat.outage = CentralOutageText(central);
    if (!player_.OutputUsable()) {
        beat.problems << kNoOutputText;
    }
    beat.problems << BellProblemLines(engine_) << remote_.ZoneProblemLines();
    if (central.mayWrite) {
        beat.problems << kWritableAccountText;
    }
    for (const QString& text : {CentralClockText(central), ClockSyncText(clockSync_)}) {
        if (!text.isEmpty()) {
            beat.problems << text;
        }
    }
    if (clockSync_.known) {
        beat.clockSynchronised = clockSync_.synchronised;
    }
    return beat;
}
