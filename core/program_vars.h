// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/enums.h"
#include "core/time_text.h"

#include <QString>
#include <QStringList>
#include <QVector>

// One rain-day replacement as the scheduler looks it up: name and music file.
struct ReplaceEntry {
    QString name;
    QString file;
};

// The run-wide settings and lists. The application owns the one set and hands it to the
// engine and the windows by reference, so every test can make a fresh one.
struct ProgramVars {
    QString CurWeekName;               // today's weekday name, "星期日" … "星期六"
    quint32 FrameBackColor = 0xF5F5FF; // RGB(245, 245, 255): settings and editor panels
    ::PlayOrder PlayOrder = ::PlayOrder::Sequential; // how break music plays a library
    QStringList ClassMusicArr;                       // break-music library names in list order
    QVector<ReplaceEntry> ReplaceMusicArr; // replacements in the order the store returns them
    bool RainMode = false;
    QString ShutDownTime = kNoShutdownTime; // "hh:mm:ss"; kNoShutdownTime: none
    bool MinToTray = false;
    bool ShowClock = true; // time label shows the clock (true) or the countdown (false)
};
