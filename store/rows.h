#pragma once

#include "core/enums.h"

#include <QString>

// One line of today's record (table 播放记录): what became of one event at its second.
struct PlayRecordRow {
    qint64 id = 0;
    QString date;                             // 日期 "yyyy-MM-dd"
    QString time;                             // 时间: the event's "hh:mm:ss"
    QString event;                            // 事件
    QString file;                             // 音乐文件: what played, or was to play
    PlayOutcome outcome = PlayOutcome::Fired; // 结果
    int lateMs = -1; // 延迟毫秒: first sample behind the second; -1: unknown
    QString reason;  // 原因: why it was skipped, missed or failed
};
