// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRectF>

// Where the image button's parts go, in twips, for a button W × H with a caption
// labelW × labelH. A pure function so the arithmetic can be checked on its own.
struct ButtonLayout {
    double D = 0; // free height: H − caption height, rounded half to even
    QRectF icon;  // only meaningful when iconVisible
    bool iconVisible = false;
    QPointF label; // caption's top-left corner
    int borderWidth = 1;
};

ButtonLayout DrawButtonLayout(double W, double H, double labelW, double labelH, int style,
                              int currentBorderWidth);

// Rounds to the nearest whole number, halves to even.
double RoundHalfEven(double v);
