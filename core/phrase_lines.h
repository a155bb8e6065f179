// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Breaks text into lines no wider than width, as measure finds a line's width. Lines break
// between phrases (after a space or a punctuation mark, before an opening quote or bracket),
// so a word such as 星期三 or 确定 is never cut in two; a phrase longer than a whole line
// (a path) is broken where it must be. A line break in text stays one.
QStringList PhraseLines(const QString& text, int width,
                        const std::function<int(const QString&)>& measure);
