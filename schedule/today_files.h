// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class Clock;
class Player;

// One of today's events whose sound cannot be played.
struct FileProblem {
    QString time;   // the event's "hh:mm:ss"
    QString event;  // 事件
    QString file;   // the file it would play
    QString reason; // why it cannot, in the log's words ("does not exist")
    bool operator==(const FileProblem&) const = default;
};

// What one event would play, gathered on the schedule's thread: a file (problem.file), or a
// break-music library's songs, of which one playable is enough. A reason given already (no
// music file, an empty library) is a problem without looking at any file.
struct FileToCheck {
    FileProblem problem;
    QStringList songs;
};

// Checks, off the schedule's thread, that the sound of each of today's events still to come
// can be played, so a slow disk never holds up a tick. Each problem is logged once a day;
// the list is looked at again every few minutes while it holds any, so a file put back is
// noticed, and drops what is past (its outcome is in the record).
class TodayFiles : public QObject {
    Q_OBJECT
public:
    using Gather = std::function<QVector<FileToCheck>()>;
    // gather: today's events still to come; secondsNow: the time of day, for DropPast.
    TodayFiles(const Player& player, const Clock& clock, Gather gather,
               std::function<int()> secondsNow, QObject* parent = nullptr);
    ~TodayFiles() override;

    // Starts a check; one asked for while another runs follows it.
    void Check();
    // Checks again when problems remain and a few minutes have passed since the last check.
    void CheckAgainIfDue(qint64 nowMs);
    // Problems of events earlier than nowSeconds are dropped.
    void DropPast(int nowSeconds);
    // A new day: its problems are logged afresh.
    void NewDay() { logged_.clear(); }
    const QVector<FileProblem>& Problems() const { return problems_; }

signals:
    void Changed();
    // A check has ended (after Changed, when it changed the problems).
    void Checked();

private:
    void OnChecked();

    const Player& player_;
    const Clock& clock_;
    Gather gather_;
    std::function<int()> secondsNow_;
    QVector<FileProblem> problems_;
    QFutureWatcher<QVector<FileProblem>> check_;
    QSet<QString> logged_; // problems already logged on the day
    qint64 checkedMs_ = 0;
    bool again_ = false; // asked for while a check ran
};
