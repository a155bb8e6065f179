// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/bell_problems.h"

#include "core/reason_text.h"
#include "schedule/schedule_engine.h"

QStringList BellProblemLines(const ScheduleEngine& engine) {
    QStringList lines;
    for (const ScheduleEngine::FileProblem& p : engine.TodayProblems()) {
        lines << QStringLiteral("%1 %2：%3 %4")
                     .arg(p.time, p.event, p.file, ReasonForPeople(p.reason));
    }
    for (const PlayRecordRow& r : engine.NotRungToday()) {
        lines << QStringLiteral("%1 %2：%3（%4）")
                     .arg(r.time, r.event,
                          r.outcome == PlayOutcome::Missed ? QStringLiteral("未响")
                                                           : QStringLiteral("播放失败"),
                          ReasonForPeople(r.reason));
    }
    return lines;
}
