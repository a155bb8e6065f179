// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/program_vars.h"
#include "core/time_text.h"
#include "schedule/schedule_engine.h"
#include "support/fakes.h"
#include "support/media.h"
#include "support/temp_store.h"

#include <QFileInfo>
#include <QtTest>
#include <type_traits>

// The whole second lead seconds from now (at least), on the real clock: a real player's bell.
inline QDateTime WholeSecondAhead(int lead) {
    const QDateTime now = QDateTime::currentDateTime();
    return QDateTime(now.date(), QTime(now.time().hour(), now.time().minute(), now.time().second()))
        .addSecs(lead);
}

// The rig's player: a fake one follows the rig's clock; any other (a real one) is its own.
template <typename P> P MakeRigPlayer(FakeClock* clock) {
    if constexpr (std::is_constructible_v<P, FakeClock*>) {
        return P(clock);
    } else {
        return P();
    }
}

// A store, program variables, clock, player and engine wired together, driven by hand.
template <typename P> struct BasicEngineRig {
    BasicEngineRig()
        : player(MakeRigPlayer<P>(&clock)), engine(vars, *store.conn, clock, player, &prompt) {
        engine.SetTimerDriven(false);
    }
    // Makes an (empty) file the engine can see; returns its path.
    QString File(const QString& name) {
        const QString path = store.dir.path() + "/" + name;
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        return path;
    }
    // A short real sound file, which the check before each break song accepts.
    QString Sound(const QString& name) {
        const QString path = store.dir.path() + "/" + name;
        if (!media::Make(path, 0.2)) {
            qFatal("cannot make %s", qPrintable(path));
        }
        return path;
    }
    qint64 Event(const QString& week, const QString& start, const QString& name,
                 const QString& file, const QString& replace = "", const QString& flag = "√") {
        return store.AddEvent({0, week, name, start, file, "00:00:05", flag, replace, "111111"});
    }
    // Every weekday (Sunday too) rings one bell of its own at 08:00 and 15:00.
    void WeekOfBells() {
        for (const QString& week : WeekdayNames()) {
            const QString f = File(week + ".wav");
            Event(week, "08:00:00", week + "早", f);
            Event(week, "15:00:00", week + "午", f);
        }
    }
    QString Bell(const QString& week) const { return store.dir.path() + "/" + week + ".wav"; }
    QStringList Songs(const QString& library, const QStringList& files) {
        for (const QString& f : files) {
            store.AddSong(library, f, "00:03:00");
        }
        return files;
    }
    void Special(const QString& date, const QString& kind, const QString& note = "") {
        QString error;
        QVERIFY2(store.conn->AddSpecialDays({{0, date, kind, note}}, &error), qPrintable(error));
    }
    void At(const QDate& d, const QTime& t) { clock.Set(QDateTime(d, t)); }
    // Ticks once a second until the clock reaches t today.
    void RunUntil(const QTime& t) { RunUntil(QDateTime(clock.Now().date(), t)); }
    // Ticks once a second until the clock reaches end (inclusive).
    void RunUntil(const QDateTime& end) {
        const qint64 endMs = end.toMSecsSinceEpoch();
        while (clock.NowMs() < endMs) {
            clock.Advance(1);
            engine.Tick();
        }
    }
    // Like RunUntil, but leaps over the seconds in which a tick would only refresh the
    // label: months of timetable in a moment.
    void FastForward(const QDateTime& end) {
        const qint64 endMs = end.toMSecsSinceEpoch();
        while (clock.NowMs() < endMs) {
            const qint64 wake = (engine.NextWakeMs() + 999) / 1000 * 1000;
            clock.SetMs(qMin(endMs, qMax(clock.NowMs() + 1000, wake)));
            engine.Tick();
        }
    }
    QStringList Plays() const { return player.plays; }
    // What played, as "yyyy-MM-dd hh:mm:ss file".
    QStringList Played() const {
        QStringList out;
        for (const auto& c : player.calls) {
            if (c.what == "play") {
                out << c.when.toString("yyyy-MM-dd hh:mm:ss ") + QFileInfo(c.file).fileName();
            }
        }
        return out;
    }

    TempStore store;
    ProgramVars vars;
    FakeClock clock;
    P player;
    FakePrompt prompt;
    ScheduleEngine engine;
};

using EngineRig = BasicEngineRig<FakePlayer>;
