// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/service_run.h"

#include "core/play_log.h"
#include "system/service_notify.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

// The daily power-off of a service: nobody is at a screen to cancel a countdown, so logind
// is asked at once, after a line in the log.
class LoggedPowerOffPrompt : public ShutdownPrompt {
public:
    LoggedPowerOffPrompt(PowerOff& powerOff, std::function<void()> poweringOff)
        : powerOff_(powerOff), poweringOff_(std::move(poweringOff)) {}

    void OpenShutdownCountdown(std::function<void(bool)> closed) override {
        PlayLog(QStringLiteral("power-off at the shutdown time: asking logind (no countdown "
                               "in service mode)"));
        QString reason = QStringLiteral("no way to power off is available");
        const bool accepted = powerOff_.PowerOffNow(&reason);
        if (accepted) {
            PlayLog(QStringLiteral("power-off requested; the program ends"));
        } else {
            PlayLog(QStringLiteral("error power-off failed: %1").arg(reason));
        }
        if (closed) {
            closed(accepted);
        }
        if (accepted) {
            poweringOff_();
        }
    }

private:
    PowerOff& powerOff_;
    std::function<void()> poweringOff_;
};

} // namespace

ServiceRun::ServiceRun(std::unique_ptr<Conn> conn, ProgramVars vars, ServiceNotify& notify)
    : notify_(notify), core_(std::move(conn), std::move(vars), [this](PowerOff& powerOff) {
          // Not inside the tick that asked: the end comes once it has returned.
          return std::make_unique<LoggedPowerOffPrompt>(
              powerOff, [this] { QTimer::singleShot(0, &context_, [this] { Stop(0); }); });
      }) {
    ScheduleEngine& engine = core_.Engine();
    // Fed from the end of each tick: a tick that hangs, or that stops being armed, starves
    // systemd's watchdog, which restarts the service.
    QObject::connect(&engine, &ScheduleEngine::Ticked, &context_, [this] { notify_.Watchdog(); });
    QObject::connect(&engine, &ScheduleEngine::CaptionChanged, &context_, [this] { ShowStatus(); });
    LogProblems();
}

void ServiceRun::LogProblems() {
    // Each bell is said on its own as it happens (warn, missed, error); these lines add what
    // the window's problem line sums up, whenever it grows.
    ScheduleEngine& engine = core_.Engine();
    QObject::connect(&engine, &ScheduleEngine::TodayProblemsChanged, &context_, [this] {
        const qsizetype now = core_.Engine().TodayProblems().size();
        if (now > unplayable_) {
            PlayLog(QStringLiteral("warning %1 of today's bells still to come cannot be played")
                        .arg(now));
        }
        unplayable_ = now;
        ShowStatus();
    });
    QObject::connect(&engine, &ScheduleEngine::NotRungChanged, &context_, [this] {
        const qsizetype now = core_.Engine().NotRungToday().size();
        if (now > notRung_) {
            PlayLog(QStringLiteral("warning %1 of today's bells did not sound").arg(now));
        }
        notRung_ = now;
        ShowStatus();
    });
}

void ServiceRun::ShowStatus() {
    QString status = core_.Engine().CaptionText();
    if (unplayable_ > 0) {
        status += QStringLiteral("; %1 cannot be played").arg(unplayable_);
    }
    if (notRung_ > 0) {
        status += QStringLiteral("; %1 did not sound").arg(notRung_);
    }
    notify_.Status(status);
}

void ServiceRun::Follow(const QString& central, const QString& site,
                        CentralFollower::Timing timing) {
    core_.Follow(central, site, timing).Start();
}

void ServiceRun::Start() {
    // Every day from here on is entered by the engine itself at midnight.
    core_.Engine().LoadTodayEvents();
    notify_.Ready();
    ShowStatus();
}

void ServiceRun::Stop(int status) {
    if (std::exchange(stopping_, true)) {
        return;
    }
    notify_.Stopping();
    core_.End();
    QCoreApplication::exit(status);
}
