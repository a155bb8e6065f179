// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/break_music.h"

#include "audio/playable_file.h"
#include "audio/player.h"
#include "core/play_log.h"
#include "core/program_vars.h"
#include "store/conn.h"

#include <QDateTime>
#include <utility>

BreakMusic::BreakMusic(ProgramVars& vars, Conn& conn, Player& player, QObject* parent)
    : QObject(parent), vars_(vars), conn_(conn), player_(player) {
    connect(&player_, &Player::PlayStateChange, this, &BreakMusic::OnPlayStateChange);
    connect(&player_, &Player::Halted, this, &BreakMusic::End);
    connect(&player_, &Player::Error, this, &BreakMusic::OnPlayerError);
}

void BreakMusic::LoadNext(const QString& library) {
    next_ = {};
    next_.library = library;
    next_.ready = true;
    // Every library start draws fresh random orders.
    std::random_device device;
    rng_.seed(device() ^ static_cast<unsigned>(QDateTime::currentMSecsSinceEpoch()));
    QVector<SongRow> rows;
    if (!conn_.LibrarySongs(library, &rows, &next_.error)) {
        rows.clear();
    }
    for (const SongRow& r : rows) {
        next_.songs.push_back(r.file);
    }
    next_.order = DrawOrder(next_.songs.size());
}

QString BreakMusic::FirstSong() const {
    return next_.songs.isEmpty() ? QString() : next_.songs[next_.order[1] - 1];
}

void BreakMusic::PrepareBreakMusic(const QString& library, const AudioRoute& route) {
    if (!next_.ready || next_.library != library) {
        LoadNext(library);
    }
    if (!next_.songs.isEmpty()) {
        player_.Prepare(FirstSong(), route);
    }
}

void BreakMusic::ArmBreakMusic(const QString& library, const QDateTime& target,
                               const AudioRoute& route) {
    if (!next_.ready || next_.library != library) {
        LoadNext(library);
    }
    if (next_.songs.isEmpty()) {
        return; // nothing to start; the start says so
    }
    const QString first = FirstSong();
    if (!(next_.target == target && player_.StartArmed(first, target, route))) {
        End(); // the song playing now is the last of the current break
        next_.target = target;
        player_.QuietErrorsFor(first);
    }
    player_.PlayAt(first, target, route);
}

void BreakMusic::StartBreakMusic(const QString& library, const AudioRoute& route) {
    if (!next_.ready || next_.library != library) {
        LoadNext(library);
    }
    const Next next = std::exchange(next_, Next{});
    breakPlaying_ = true;
    library_ = library;
    route_ = route;
    failedFiles_.clear();
    if (!next.error.isEmpty()) {
        PlayLog(QStringLiteral("error break music \"%1\": cannot read the library (%2)")
                    .arg(library, next.error));
    }
    songs_ = next.songs;
    breakOrder_ = {0};
    startTarget_ = QDateTime();
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
    breakOrder_ = next.order;
    breakPos_ = 0;
    const QString first = songs_[breakOrder_[1] - 1];
    if (next.target.isValid() && player_.StartArmed(first, next.target, route_)) {
        // The audio clock starts it (or has started it) at its second.
        startTarget_ = next.target;
        breakPos_ = 1;
        passHadSound_ = false;
        currentFile_ = first;
        lastFailed_ = false;
        NoteSong(first);
        player_.QuietErrorsFor(first);
        return;
    }
    PlayNextBreakSong();
}

void BreakMusic::BuildBreakOrder() {
    breakOrder_ = DrawOrder(songs_.size());
    breakPos_ = 0;
}

QVector<int> BreakMusic::DrawOrder(int n) {
    QVector<int> order(n + 1, 0);
    for (int i = 1; i <= n; ++i) {
        order[i] = i;
    }
    if (vars_.PlayOrder == PlayOrder::Random) {
        // Fisher–Yates over entries 1..n: every permutation equally likely, in O(n).
        for (int i = n; i > 1; --i) {
            std::uniform_int_distribution<int> pick(1, i);
            std::swap(order[i], order[pick(rng_)]);
        }
    }
    return order;
}

void BreakMusic::NoteSong(const QString& file) {
    if (failedFiles_.contains(file)) {
        return;
    }
    const QString problem = CheckPlayableFile(file);
    if (problem.isEmpty()) {
        PlayLog(QStringLiteral("play  break song %1").arg(file));
    } else {
        failedFiles_.insert(file);
        PlayLog(QStringLiteral("error break song %1 %2").arg(file, problem));
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
    NoteSong(currentFile_);
    lastFailed_ = false;
    startTarget_ = QDateTime();
    // Its failures come back through Error and are logged here, once a break.
    player_.QuietErrorsFor(currentFile_);
    player_.SetFileName(currentFile_, route_);
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
    if (startTarget_.isValid() && player_.StartArmed(currentFile_, startTarget_, route_) &&
        player_.FileName() != currentFile_) {
        return; // the previous break's last song ended just before this break's first start
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
