// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QRegion>
#include <QSize>

class QWidget;

// The window region: a rounded rectangle with left 30, top 30, right W − 30, bottom
// H + 30 (outer window pixels, 16 × 16 corners). It cuts the frame and caption away and
// rounds only the top corners; the bottom edge lies below the window.
struct RoundRegion {
    int left, top, right, bottom;
};
RoundRegion RoundRegionFor(const QSize& outer);

// The designed frame around the client area that the region is measured from.
constexpr int kFrameSide = 3;
constexpr int kFrameTop = 21;
constexpr int kCornerSize = 16;

// The region in the frameless window's own (client) coordinates.
QRegion ClientRoundRegion(const QSize& client);

// Applies the region as the window's mask; the window is frameless.
void MakeRoundForm(QWidget* window);
