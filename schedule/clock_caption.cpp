// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/clock_caption.h"

#include <QStringList>

QString ClockCaption(const CaptionFacts& f) {
    QStringList parts;
    if (f.rain) {
        parts << QStringLiteral("雨天模式");
    }
    if (!f.running) {
        parts << QStringLiteral("已暂停按时播放，回到主窗口后继续");
    } else {
        if (f.breakMusic) {
            parts << QStringLiteral("课间音乐播放中");
        }
        if (f.armed) {
            parts << (f.showClock ? QStringLiteral("下一个：%1 %2")
                                  : QStringLiteral("距 %1 %2 还有"))
                         .arg(f.nextTime, f.nextEvent);
        } else if (f.noEventsToday) {
            parts << QStringLiteral("今天的时间表中没有铃声");
        }
    }
    return parts.join(QStringLiteral(" · "));
}
