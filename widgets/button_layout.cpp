// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/button_layout.h"

#include <cmath>

double RoundHalfEven(double v) {
    // nearbyint follows the current rounding mode, which is to-nearest-even by default.
    return std::nearbyint(v);
}

ButtonLayout DrawButtonLayout(double W, double H, double labelW, double labelH, int style,
                              int currentBorderWidth) {
    ButtonLayout l;
    l.D = RoundHalfEven(H - labelH);
    // Taller buttons get a thicker border; small ones keep what they had.
    l.borderWidth = H / 500 > 1 ? static_cast<int>(RoundHalfEven(H / 500)) : currentBorderWidth;
    if (style != 0) {
        const double iconH = l.D * 0.8 * 0.8;
        const double iconTop = l.D * 0.7 * 0.1;
        l.icon = QRectF((W - iconH) / 2, iconTop, iconH, iconH);
        l.iconVisible = true;
        l.label = QPointF((W - labelW) / 2, iconH + iconTop + l.D * 0.1);
    } else {
        l.label = QPointF((W - labelW) / 2, l.D / 2);
    }
    return l;
}
