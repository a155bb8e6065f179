// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QString>
#include <functional>
#include <memory>

struct ProgramVars;

// Opens the shutdown countdown and returns at once; the schedule goes on ticking while it
// is up. When it closes, closed(true) means the computer is being powered off (the program
// is about to end), closed(false) that the user cancelled or power-off was refused.
class ShutdownPrompt {
public:
    virtual ~ShutdownPrompt() = default;
    virtual void OpenShutdownCountdown(std::function<void(bool poweringOff)> closed) = 0;
};

// The daily shutdown check, the last step of every schedule tick.
class ShutdownCheck {
public:
    ShutdownCheck(ProgramVars& vars, ShutdownPrompt* prompt) : vars_(vars), prompt_(prompt) {}

    // Opens the countdown when the shutdown time passes while the program runs (it is
    // strictly earlier than nowTime, by no more than the late grace). A program started
    // after today's shutdown time, or a shutdown missed by more than the grace, does not
    // power off at that time that day. A cancelled countdown stays cancelled until the next
    // day unless another time is set, and the box is never opened while it is already open.
    void Check(const QDate& today, const QString& nowTime);
    // Called whenever the schedule starts; the first call is the program's start.
    void NoteStart(const QDate& today, const QString& nowTime);
    // The schedule resumes after one of the program's own windows held it since pausedAt
    // (today): a shutdown time passed meanwhile still opens the countdown, however late,
    // since the administrator is at the screen to cancel it.
    void NoteResume(const QDate& today, const QString& pausedAt, const QString& nowTime);

    bool CancelledToday(const QDate& today) const { return cancelledOn_ == today; }
    bool BoxOpen() const { return boxOpen_; }

private:
    ProgramVars& vars_;
    ShutdownPrompt* prompt_;
    bool boxOpen_ = false;
    // Lets a countdown that closes after this check is gone find that out.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    QDate cancelledOn_;
    QDate settledOn_;        // the day's shutdown is settled: under way, started late, or missed
    QString decidedAt_;      // the shutdown time cancelledOn_ or settledOn_ concern
    QDate overdueAllowedOn_; // the shutdown time passed while the schedule was paused
    QDate startDate_;        // when the program started
    QString startTime_;
    QString warnedBadTime_;
};
