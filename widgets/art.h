// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QRect>
#include <QString>

// The program's artwork, rendered from its SVG sources at the size it is shown
// (and at the screen's pixel ratio), so it stays sharp at 1x and 2x.
QPixmap Art(const QString& name, const QSize& size, qreal dpr = 0);
// The program icon.
QIcon ProgramIcon();

// 15 twips are one pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15; // 1440 twips an inch at 96 dots an inch
inline int Px(double twips) {
    return static_cast<int>(twips / kTwipsPerPixel + 0.5);
}
inline QRect Px(const QRect& twips) {
    return QRect(Px(twips.x()), Px(twips.y()), Px(twips.width()), Px(twips.height()));
}
