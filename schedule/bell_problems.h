// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class ScheduleEngine;

// What the main window and a following computer's heartbeat say while no sound device can
// be opened.
inline const QString kNoOutputText = QStringLiteral("无法输出声音");

// Today's bells that cannot be played, then those that did not sound, one line each
// ("08:00:00 上课：/bells/a.wav 文件不存在"), as the main window's problem line's tip and a
// following computer's heartbeat list them.
QStringList BellProblemLines(const ScheduleEngine& engine);
