// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What the line under the clock label is made of.
struct CaptionFacts {
    bool rain = false;
    bool running = false;       // false: the schedule is paused
    bool breakMusic = false;    // break music plays
    bool armed = false;         // an event is next today
    bool showClock = false;     // the label shows the time, not a countdown
    bool noEventsToday = false; // a day with bells whose timetable holds none
    QString nextTime;
    QString nextEvent;
};

// The label shows the time, a countdown or "播放已结束": this line says which, of what, and
// what the quiet means ("雨天模式 · 下一个：08:00:00 上课").
QString ClockCaption(const CaptionFacts& facts);
