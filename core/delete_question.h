// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The question before deleting rows, naming what goes: 真的要删除“下课”吗？ for one row with a
// name, the number of rows for several.
QString DeleteQuestion(const QStringList& names);
