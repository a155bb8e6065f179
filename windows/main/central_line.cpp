// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/main/central_line.h"

#include <QStringList>

#include <cstdlib>

QString CentralOutageText(const CentralState& state) {
    if (!state.outage) {
        return {};
    }
    return QStringLiteral("%1，使用 %2 的本地副本")
        .arg(!state.refusal.isEmpty() ? state.refusal : QStringLiteral("中心时间表不可达"),
             state.lastCopy.isValid() ? state.lastCopy.toString(QStringLiteral("HH:mm"))
                                      : QStringLiteral("--:--"));
}

QString CentralClockText(const CentralState& state) {
    const std::optional<qint64> ms = state.clockOffsetMs;
    if (!ms || std::llabs(*ms) <= kClockOffsetLimitMs) {
        return {};
    }
    return QStringLiteral("本机时钟与中心服务器相差 %1 秒")
        .arg(std::llabs(*ms) / 1000.0, 0, 'f', 1);
}

QString CentralLineText(const CentralState& state) {
    const QString outage = CentralOutageText(state);
    QStringList parts = {!outage.isEmpty() ? outage
                         : state.mayWrite  ? kWritableAccountText
                                           : QString(),
                         CentralClockText(state)};
    parts.removeAll(QString());
    return parts.join(QStringLiteral("；"));
}
