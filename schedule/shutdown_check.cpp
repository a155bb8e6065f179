// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/shutdown_check.h"

#include "core/play_log.h"
#include "core/program_vars.h"
#include "core/time_text.h"

void ShutdownCheck::Check(const QDate& today, const QString& nowTime) {
    const QString& at = vars_.ShutDownTime;
    if (at == kNoShutdownTime) {
        return;
    }
    if (!IsTimeText(at)) {
        // A damaged setting must not power the computer off at a random moment.
        if (warnedBadTime_ != at) {
            warnedBadTime_ = at;
            PlayLog(QStringLiteral("skip  daily shutdown: the shutdown time \"%1\" is not hh:mm:ss")
                        .arg(at));
        }
        return;
    }
    // What was cancelled or settled is the day's shutdown at that time: another time set the
    // same day is a new one.
    if (!(at < nowTime) || boxOpen_ || (cancelledOn_ == today && decidedAt_ == at) ||
        (settledOn_ == today && decidedAt_ == at) || !prompt_) {
        return;
    }
    // A computer switched on in the evening, or woken long after the shutdown time, must not
    // power off a few seconds later.
    const bool startedAfter = today == startDate_ && at < startTime_;
    const bool late = TimeTextSeconds(nowTime) - TimeTextSeconds(at) > kLateGraceSeconds;
    if (startedAfter || (late && overdueAllowedOn_ != today)) {
        settledOn_ = today;
        decidedAt_ = at;
        PlayLog(QStringLiteral("shutdown %1 skipped: %2")
                    .arg(at, startedAfter
                                 ? QStringLiteral("started after the shutdown time")
                                 : QStringLiteral("missed (the clock reached %1)").arg(nowTime)));
        return;
    }
    PlayLog(QStringLiteral("shutdown time %1 reached").arg(at)); // the prompt says what follows
    boxOpen_ = true;
    std::weak_ptr<bool> alive = alive_;
    prompt_->OpenShutdownCountdown([this, alive, today, at](bool poweringOff) {
        if (alive.expired()) {
            return;
        }
        boxOpen_ = false;
        decidedAt_ = at;
        if (poweringOff) {
            settledOn_ = today;
        } else {
            cancelledOn_ = today;
            PlayLog(QStringLiteral("shutdown cancelled for today"));
        }
    });
}

void ShutdownCheck::NoteStart(const QDate& today, const QString& nowTime) {
    if (!startDate_.isValid()) {
        startDate_ = today;
        startTime_ = nowTime;
    }
}

void ShutdownCheck::NoteResume(const QDate& today, const QString& pausedAt,
                               const QString& nowTime) {
    const QString& at = vars_.ShutDownTime;
    if (IsTimeText(at) && pausedAt < at && at < nowTime) {
        overdueAllowedOn_ = today;
    }
}
