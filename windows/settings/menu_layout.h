// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPoint>
#include <QVector>

// The settings window's accordion menu, in twips: the open heading's entries stand in a
// column inside the drawer, which hangs below the open heading; the other heading sits under
// the drawer (heading 0 open) or right under heading 0 (heading 1 open).
struct MenuLayoutInput {
    int curMenu = 0;            // the open heading, 0 or 1
    int groupCount[2] = {3, 1}; // entries under heading 0 and heading 1
    int menuTop = 0;            // heading 0's top
    int menuHeight = 0;         // a heading's height
    int drawerLeft = 0;
    int drawerWidth = 0;
    int drawerHeight = 0;
    int entrySize = 0; // entry buttons are square
};

struct MenuLayoutResult {
    int drawerTop = 0;
    int secondMenuTop = 0;
    int firstEntry = 0;      // index of the first entry shown
    QVector<QPoint> entries; // top-left of each shown entry, in order
};

MenuLayoutResult LayoutMenuPositions(const MenuLayoutInput& in);
