// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/today_files.h"

#include "audio/player.h"
#include "core/clock.h"
#include "core/play_log.h"
#include "core/time_text.h"

#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

constexpr qint64 kRecheckMs = 5 * 60 * 1000;

} // namespace

TodayFiles::TodayFiles(const Player& player, const Clock& clock, Gather gather,
                       std::function<int()> secondsNow, QObject* parent)
    : QObject(parent), player_(player), clock_(clock), gather_(std::move(gather)),
      secondsNow_(std::move(secondsNow)) {
    connect(&check_, &QFutureWatcherBase::finished, this, &TodayFiles::OnChecked);
}

TodayFiles::~TodayFiles() {
    check_.waitForFinished(); // it reads through the player
}

void TodayFiles::Check() {
    checkedMs_ = clock_.NowMs();
    if (check_.isRunning()) {
        // One check at a time, so the one the destructor waits for is the only one.
        again_ = true;
        return;
    }
    again_ = false;
    const QVector<FileToCheck> items = gather_();
    const Player* player = &player_;
    check_.setFuture(QtConcurrent::run([items, player] {
        QVector<FileProblem> found;
        for (const FileToCheck& item : items) {
            FileProblem p = item.problem;
            if (p.reason.isEmpty() && !item.songs.isEmpty()) {
                const bool anyPlays =
                    std::any_of(item.songs.begin(), item.songs.end(), [player](const QString& f) {
                        return player->WhyUnplayable(f).isEmpty();
                    });
                if (!anyPlays) {
                    p.reason = QStringLiteral("no song of the break-music library can be played");
                }
            } else if (p.reason.isEmpty()) {
                p.reason = player->WhyUnplayable(p.file);
            }
            if (!p.reason.isEmpty()) {
                found.push_back(p);
            }
        }
        return found;
    }));
}

void TodayFiles::CheckAgainIfDue(qint64 nowMs) {
    if (!problems_.isEmpty() && (nowMs - checkedMs_ >= kRecheckMs || nowMs < checkedMs_)) {
        Check();
    }
}

void TodayFiles::OnChecked() {
    if (again_) {
        Check(); // the day changed while it ran: its answer is out of date
        return;
    }
    const QVector<FileProblem> found = check_.result();
    for (const FileProblem& p : found) {
        const QString key = p.time + p.event + p.file + p.reason;
        if (!logged_.contains(key)) {
            logged_.insert(key);
            PlayLog(clock_.Now(), QStringLiteral("warn  %1 \"%2\" cannot be played: %3 %4")
                                      .arg(p.time, p.event, p.file, p.reason));
        }
    }
    const bool changed = found != problems_;
    problems_ = found;
    if (changed) {
        emit Changed();
    }
    DropPast(secondsNow_());
    emit Checked();
}

void TodayFiles::DropPast(int nowSeconds) {
    // What could not be played and is past now was fired, failed or missed: said there.
    const qsizetype before = problems_.size();
    problems_.removeIf(
        [nowSeconds](const FileProblem& p) { return TimeTextSeconds(p.time) < nowSeconds; });
    if (problems_.size() != before) {
        emit Changed();
    }
}
