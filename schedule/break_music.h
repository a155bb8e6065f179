// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/player.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>
#include <random>

struct ProgramVars;
class Conn;

// The break-music text that marks a library event in the timetable's music column.
inline const QString kBreakMusicFile = QStringLiteral("课间音乐曲库");

// Plays one break-music library song after song, in sequential, repeat-one or random
// order, until something else takes the player: an ordinary event (End), a halt, or any
// other file being played. A song that fails (cannot be played, or ends without a sound)
// is skipped and logged once a break; a pass over the library in which every song failed
// ends break music.
class BreakMusic : public QObject {
    Q_OBJECT
public:
    BreakMusic(ProgramVars& vars, Conn& conn, Player& player, QObject* parent = nullptr);

    // Loads the library's songs and plays the first; a library without songs starts nothing.
    // What PrepareBreakMusic read and drew for library is used, and a first song armed by
    // ArmBreakMusic is left to start on the audio clock. Every song of the break plays on
    // route (empty: the default output).
    void StartBreakMusic(const QString& library, const AudioRoute& route = {});
    // Ahead of the event: reads library's songs, draws its play order and gets the first
    // song ready in the player for route, so the start does no database or file work.
    void PrepareBreakMusic(const QString& library, const AudioRoute& route = {});
    // Arms the first song of library (prepared now if it was not) to start at target on the
    // audio clock, on route; the current break music ends (its song plays on until target).
    // Calling it again with the same library, target and route only follows a step of the
    // wall clock.
    void ArmBreakMusic(const QString& library, const QDateTime& target,
                       const AudioRoute& route = {});
    // The first song PrepareBreakMusic or ArmBreakMusic chose for library; "" if none.
    QString PreparedFirstSong(const QString& library) const {
        return next_.ready && next_.library == library ? FirstSong() : QString();
    }
    // Forgets what was prepared ahead (the timetable has been read again).
    void ForgetPrepared() { next_ = {}; }
    // The song playing now (or last), "" before the first.
    const QString& CurrentFile() const { return currentFile_; }
    // Builds the play order for the loaded songs and sets the position to 0.
    void BuildBreakOrder();
    // Advances by the play order and hands the song to the player.
    void PlayNextBreakSong();
    // Break music is no longer the current playback; the next song end plays nothing.
    void End();

    bool BreakPlaying() const { return breakPlaying_; }
    // Entries 1 to n are song numbers 1 to n; entry 0 is not used.
    const QVector<int>& BreakOrder() const { return breakOrder_; }
    int BreakPos() const { return breakPos_; }

private:
    // A library read and its play order drawn, ahead of its start.
    struct Next {
        QString library;
        QVector<QString> songs;
        QVector<int> order{0};
        QString error;    // the library could not be read
        QDateTime target; // the first song's armed start, if any
        bool ready = false;
    };
    void LoadNext(const QString& library);
    QVector<int> DrawOrder(int n);
    QString FirstSong() const;
    // Checks a song about to play and logs it (a failure once a break).
    void NoteSong(const QString& file);
    void OnPlayStateChange(int oldState, int newState);
    void OnPlayerError(const QString& message);

    ProgramVars& vars_;
    Conn& conn_;
    Player& player_;
    QString library_;
    AudioRoute route_; // where the break's songs play
    QVector<QString> songs_;
    QVector<int> breakOrder_{0};
    int breakPos_ = 0;
    bool breakPlaying_ = false;
    QString currentFile_;
    bool lastFailed_ = false;
    bool passHadSound_ = false; // a song of the current pass played
    QSet<QString> failedFiles_; // failed this break, and logged
    std::mt19937 rng_;
    Next next_;
    QDateTime startTarget_; // the armed start of the current break's first song
};
