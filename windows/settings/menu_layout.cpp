// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/menu_layout.h"

MenuLayoutResult LayoutMenuPositions(const MenuLayoutInput& in) {
    MenuLayoutResult out;
    out.drawerTop = in.menuHeight * (in.curMenu + 1) + in.menuTop - 10;
    int count = 0;
    if (in.curMenu == 0) {
        out.secondMenuTop = out.drawerTop + in.drawerHeight - 50;
        out.firstEntry = 0;
        count = in.groupCount[0];
    } else {
        out.secondMenuTop = in.menuTop + in.menuHeight - 10;
        out.firstEntry = in.groupCount[0];
        count = in.groupCount[1];
    }
    const int x = (in.drawerWidth - in.entrySize) / 2 + in.drawerLeft;
    for (int k = 0; k < count; ++k) {
        out.entries << QPoint(x, out.drawerTop + 200 + k * (200 + in.entrySize));
    }
    return out;
}
