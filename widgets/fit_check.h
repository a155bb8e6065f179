// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class QWidget;

// What of a shown window is cut, one line per fault naming the control and the sizes: a
// label's, button's, box's or field's text beyond its control, a list's row beyond its width
// or a table's cell beyond its column (unless the cell's tip shows it whole), a control
// beyond its parent or beyond the window's region. Typed text scrolls and is not counted.
QStringList ClippedParts(QWidget* window);

// Logs ClippedParts of window whenever it is shown: a font wider than designed (another
// machine's fallback font) shows up in the log, naming what it cuts.
void WatchClipping(QWidget* window);
