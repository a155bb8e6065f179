// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/fire_report.h"

#include "audio/player.h"
#include "core/play_log.h"

#include <algorithm>

namespace {

// a / b rounded to the nearest, halves away from zero (b > 0).
qint64 RoundedDiv(qint64 a, qint64 b) {
    return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b);
}

} // namespace

QString OutcomeLine(PlayOutcome outcome, const QString& time, const QString& event,
                    const QString& file, const QString& reason) {
    switch (outcome) {
    case PlayOutcome::Fired:
        return QStringLiteral("fire  %1 \"%2\": %3").arg(time, event, file);
    case PlayOutcome::Skipped:
        return QStringLiteral("skip  %1 \"%2\": %3").arg(time, event, reason);
    case PlayOutcome::Missed:
        return QStringLiteral("missed %1 \"%2\": %3").arg(time, event, reason);
    case PlayOutcome::Failed:
        break;
    }
    return QStringLiteral("error %1 \"%2\": %3 %4").arg(time, event, file, reason);
}

FireReport::FireReport(Player& player, Recorder recorder)
    : player_(player), recorder_(std::move(recorder)) {}

void FireReport::Begin(const PlayRecordRow& record, qint64 tickLateMs, qint64 earlyMs) {
    Log(true); // the last event's line, if its sample never came
    record_ = record;
    tickLateMs_ = tickLateMs;
    earlyMs_ = earlyMs;
}

void FireReport::Await(const QString& line, const QString& file, const QDateTime& target) {
    line_ = line;
    file_ = file;
    target_ = target;
    record_.file = file;
}

void FireReport::SayNow(const QString& line, const QString& file, const QDateTime& at) {
    line_.clear();
    record_.file = file;
    PlayLog(at, line);
    recorder_(record_);
}

void FireReport::OnFirstSample(const QString& file, qint64 wallUs, int lostMs) {
    sampleFile_ = file;
    sampleUs_ = wallUs;
    sampleLostMs_ = lostMs;
    Log(false);
}

bool FireReport::FailedBy(const QString& message, bool breakMusicGoesOn) {
    lastError_ = message;
    lastErrorFile_ = player_.FileName();
    if (line_.isEmpty() || lastErrorFile_ != file_ || breakMusicGoesOn) {
        return false;
    }
    line_.clear();
    player_.QuietErrorsFor(QString());
    return true;
}

void FireReport::Log(bool force) {
    if (line_.isEmpty()) {
        return;
    }
    // A bell that rang early because the clock was set back has its sample that much early.
    const qint64 targetUs = target_.toMSecsSinceEpoch() * 1000;
    if (sampleFile_ == file_ && sampleUs_ >= 0 &&
        sampleUs_ >= targetUs + (std::min<qint64>(earlyMs_, 0) - 500) * 1000) {
        LogSounded(targetUs);
    } else if (force) {
        LogFailed();
    } else {
        return;
    }
    line_.clear();
    if (player_.FileName() == file_) {
        player_.QuietErrorsFor(QString()); // what fails later in the play says so itself
    }
    recorder_(record_);
}

void FireReport::LogSounded(qint64 targetUs) {
    // To a tenth of a millisecond: how far a bell is behind its second is read in tenths.
    const qint64 lateTenths = earlyMs_ < 0 ? earlyMs_ * 10 : RoundedDiv(sampleUs_ - targetUs, 100);
    const qint64 late = RoundedDiv(lateTenths, 10);
    // Without a sound device the sink's clock says nothing about what was heard.
    // A start that reached the output after its time loses its opening: said, with how much.
    const QString lost = sampleLostMs_ > 0
                             ? QStringLiteral("its first %1 ms were lost").arg(sampleLostMs_)
                             : QString();
    const QString how = !player_.OutputUsable()
                            ? QStringLiteral(" (no sound output)")
                            : QStringLiteral(" (first sample at the sink %1%2 ms%3)")
                                  .arg(lateTenths >= 0 ? QStringLiteral("+") : QString())
                                  .arg(lateTenths / 10.0, 0, 'f', 1)
                                  .arg(lost.isEmpty() ? QString() : QStringLiteral("; ") + lost);
    const QString early =
        earlyMs_ < 0 ? QStringLiteral("it rang %1 s early: the clock was set back as it started")
                           .arg(-earlyMs_ / 1000.0, 0, 'f', 1)
                     : QString();
    PlayLog(QDateTime::fromMSecsSinceEpoch(sampleUs_ / 1000).toLocalTime(),
            line_ + how + (early.isEmpty() ? QString() : QStringLiteral("; ") + early));
    // Without a sound device the tick's own lateness is all that is known.
    record_.lateMs = player_.OutputUsable() || earlyMs_ < 0 ? int(late)
                     : tickLateMs_ >= 1000                  ? int(tickLateMs_)
                                                            : -1;
    if (!early.isEmpty()) {
        record_.reason = early;
    } else if (!player_.OutputUsable()) {
        record_.reason = QStringLiteral("no sound output");
    } else if (!lost.isEmpty()) {
        record_.reason = lost;
    }
}

void FireReport::LogFailed() {
    // Nothing was heard: a failure, with the player's reason when it gave one.
    const QString why = lastErrorFile_ == file_ && !lastError_.isEmpty()
                            ? lastError_
                            : QStringLiteral("no sample reached the sink");
    PlayLog(target_.toLocalTime(),
            QStringLiteral("error %1 \"%2\": %3 %4").arg(record_.time, record_.event, file_, why));
    record_.outcome = PlayOutcome::Failed;
    record_.reason = why;
    record_.lateMs = int(tickLateMs_);
}
