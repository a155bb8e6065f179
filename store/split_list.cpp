// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/split_list.h"

QStringList SplitList(const QString& text) {
    if (text.isEmpty()) {
        return {};
    }
    return text.split(QLatin1Char('|'), Qt::KeepEmptyParts);
}
