// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Splits a "|"-joined list, as the store keeps the break-music library names: the empty
// text gives no elements; empty pieces are kept.
QStringList SplitList(const QString& text);
