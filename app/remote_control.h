// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class Clock;
class Conn;
class ScheduleEngine;

// Answers the control socket's requests from the schedule engine and the store, so a copy
// without a window answers as one with it does:
//   "status"     the next bell, today's record so far, the problems, version and uptime
//   "play NAME"  today's event NAME now, as the tray's 立即播放 does
//   "stop"       halts what plays, as the tray's 停止播放 does
// Each reply is one JSON object; README lists its keys.
class RemoteControl : public QObject {
public:
    // centralText: what the window's central line says now ("" when all is well); clockText:
    // what is wrong with this computer's clock ("" when nothing is).
    RemoteControl(ScheduleEngine& engine, Conn& conn, const Clock& clock,
                  std::function<QString()> centralText, std::function<QString()> clockText = {});

    QByteArray Answer(const QString& request);
    // Today's zone failures as the engine reported them, "hh:mm:ss text" each.
    QStringList ZoneProblemLines() const;

private:
    QJsonObject Status();
    QJsonObject Play(const QString& name);
    QJsonObject Stop();
    QJsonObject Problems(const QDate& today);
    void NoteZoneProblem(const QString& text);

    // A zone failure as the engine reported it, kept for the rest of its day.
    struct ZoneProblemSeen {
        QDate date;
        QString time;
        QString text;
    };

    ScheduleEngine& engine_;
    Conn& conn_;
    const Clock& clock_;
    std::function<QString()> centralText_;
    std::function<QString()> clockText_;
    QDateTime started_;
    QElapsedTimer uptime_;
    QVector<ZoneProblemSeen> zoneProblems_;
};
