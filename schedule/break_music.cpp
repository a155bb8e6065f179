#include "schedule/break_music.h"

#include "audio/playable_file.h"
#include "audio/player.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "store/conn.h"

#include <QDateTime>

BreakMusic::BreakMusic(ProgramVars& vars, Conn& conn, Player& player, QObject* parent)
    : QObject(parent), vars_(vars), conn_(conn), player_(player) {
    connect(&player_, &Player::PlayStateChange, this, &BreakMusic::OnPlayStateChange);
    connect(&player_, &Player::Halted, this, &BreakMusic::End);
    connect(&player_, &Player::Error, this, &BreakMusic::OnPlayerError);
}

void BreakMusic::StartBreakMusic(const QString& library) {
    breakPlaying_ = true;
    library_ = library;
    failedFiles_.clear();
    // Every library start draws fresh random orders.
    std::random_device device;
    rng_.seed(device() ^ static_cast<unsigned>(QDateTime::currentMSecsSinceEpoch()));

    QVector<SongRow> rows;
    QString error;
    if (!conn_.LibrarySongs(library, &rows, &error)) {
        PlayLog(QStringLiteral("error break music \"%1\": cannot read the library (%2)")
                    .arg(library, error));
    }
    songs_.clear();
    for (const SongRow& r : rows) {
        songs_.push_back(r.file);
    }
    breakOrder_ = {0};
    if (songs_.isEmpty()) {
        PlayLog(QStringLiteral("skip  break music \"%1\": the library has no songs").arg(library));
        return;
    }
    PlayLog(QStringLiteral("break music \"%1\": %2 songs, order %3")
                .arg(library)
                .arg(songs_.size())
                .arg(vars_.PlayOrder == PlayOrder::Sequential  ? QStringLiteral("sequential")
                     : vars_.PlayOrder == PlayOrder::RepeatOne ? QStringLiteral("repeat one")
                                                               : QStringLiteral("random")));
    BuildBreakOrder();
    PlayNextBreakSong();
}

void BreakMusic::BuildBreakOrder() {
    const int n = songs_.size();
    breakOrder_.fill(0, n + 1);
    breakPos_ = 0;
    for (int i = 1; i <= n; ++i) {
        breakOrder_[i] = i;
    }
    if (vars_.PlayOrder == PlayOrder::Random) {
        // Fisher–Yates over entries 1..n: every permutation equally likely, in O(n).
        for (int i = n; i > 1; --i) {
            std::uniform_int_distribution<int> pick(1, i);
            std::swap(breakOrder_[i], breakOrder_[pick(rng_)]);
        }
    }
}

void BreakMusic::PlayNextBreakSong() {
    const int n = songs_.size();
    if (!breakPlaying_ || n == 0) {
        return;
    }
    if (vars_.PlayOrder == PlayOrder::RepeatOne) {
        breakPos_ = 1;
    } else {
        if (breakPos_ >= n) {
            BuildBreakOrder();
        }
        ++breakPos_;
    }
    if (breakPos_ == 1) {
        passHadSound_ = false; // a new pass
    }
    currentFile_ = songs_[breakOrder_[breakPos_] - 1];
    if (!failedFiles_.contains(currentFile_)) {
        const QString problem = CheckPlayableFile(currentFile_);
        if (problem.isEmpty()) {
            PlayLog(QStringLiteral("play  break song %1").arg(currentFile_));
        } else {
            failedFiles_.insert(currentFile_);
            PlayLog(QStringLiteral("error break song %1 %2").arg(currentFile_, problem));
        }
    }
    lastFailed_ = false;
    // Its failures come back through Error and are logged here, once a break.
    player_.QuietErrorsFor(currentFile_);
    player_.SetFileName(currentFile_);
    player_.Play();
}

void BreakMusic::End() {
    breakPlaying_ = false;
    player_.QuietErrorsFor(QString());
}

void BreakMusic::OnPlayerError(const QString& message) {
    if (!breakPlaying_ || player_.FileName() != currentFile_) {
        return;
    }
    lastFailed_ = true;
    if (!failedFiles_.contains(currentFile_)) {
        failedFiles_.insert(currentFile_);
        PlayLog(QStringLiteral("error break song %1").arg(message));
    }
}

void BreakMusic::OnPlayStateChange(int oldState, int newState) {
    Q_UNUSED(oldState);
    if (!breakPlaying_ || newState != Player::Stopped) {
        return;
    }
    if (player_.FileName() != currentFile_) {
        // Another part of the program has played something of its own.
        End();
        return;
    }
    passHadSound_ = passHadSound_ || !lastFailed_;
    const bool passDone = vars_.PlayOrder == PlayOrder::RepeatOne || breakPos_ >= songs_.size();
    if (passDone && !passHadSound_) {
        // A library whose every song fails would otherwise spin from song to song.
        PlayLog(QStringLiteral("error break music \"%1\": no song of the library could be "
                               "played; break music stops")
                    .arg(library_));
        End();
        return;
    }
    PlayNextBreakSong();
}
