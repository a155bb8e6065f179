// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

// Tells the moment the wall clock is set (by hand, by time sync stepping it, or on resume),
// through a timerfd the kernel cancels on every such change. Without it a step is seen only
// when the clock is next read, which may be after a start armed for the old instant sounded.
class WallClockSteps : public QObject {
    Q_OBJECT
public:
    explicit WallClockSteps(QObject* parent = nullptr);
    ~WallClockSteps() override;

signals:
    void Stepped();

private:
    void Arm();
    void OnReadable();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};
