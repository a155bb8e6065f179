// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/delete_question.h"

QString DeleteQuestion(const QStringList& names) {
    if (names.size() == 1 && !names[0].trimmed().isEmpty()) {
        return QStringLiteral("真的要删除“%1”吗？").arg(names[0]);
    }
    if (names.size() == 1) {
        return QStringLiteral("真的要删除这条记录吗？");
    }
    return QStringLiteral("真的要删除这些记录（共 %1 条）吗？").arg(names.size());
}
