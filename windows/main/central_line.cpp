// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/main/central_line.h"

QString CentralOutageText(const CentralState& state) {
    if (!state.outage) {
        return {};
    }
    return QStringLiteral("%1，使用 %2 的本地副本")
        .arg(!state.refusal.isEmpty() ? state.refusal : QStringLiteral("中心时间表不可达"),
             state.lastCopy.isValid() ? state.lastCopy.toString(QStringLiteral("HH:mm"))
                                      : QStringLiteral("--:--"));
}

QString CentralLineText(const CentralState& state) {
    const QString outage = CentralOutageText(state);
    return !outage.isEmpty() ? outage : state.mayWrite ? kWritableAccountText : QString();
}
