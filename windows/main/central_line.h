// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/central_state.h"

#include <QString>

// What the main window's central line says of a following computer's central timetable.

// "中心时间表不可达，使用 HH:MM 的本地副本" during an outage (the server's refusal instead of
// 中心时间表不可达 when it answers but refuses), else "".
QString CentralOutageText(const CentralState& state);
// "本机时钟与中心服务器相差 N 秒" when this computer's clock differs from the server's by more
// than kClockOffsetLimitMs, else "".
QString CentralClockText(const CentralState& state);
// The outage when there is one, else a warning when this computer's central account could
// change the timetable; and the clock's difference; joined, or "".
QString CentralLineText(const CentralState& state);

// The warning of a follower whose central account could change the timetable.
inline const QString kWritableAccountText =
    QStringLiteral("本机的中心账号可以修改时间表，建议使用只读账号");
