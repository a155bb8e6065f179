// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

// Dragging a window by its title strip. Positions are in twips relative to the strip,
// which travels with the window; any mouse button drags.
struct MoveForm {
    long DownX = 0, DownY = 0;
    long MoveX = 0, MoveY = 0;
    bool Dragging = false;

    void DragStart(Qt::MouseButtons button, Qt::KeyboardModifiers shift, double X, double Y);
    // Returns the window's new top-left, or its current one when no drag is in progress.
    QPoint DragMove(const QPoint& windowPos, Qt::MouseButtons button, Qt::KeyboardModifiers shift,
                    double X, double Y);
    void DragEnd(Qt::MouseButtons button, Qt::KeyboardModifiers shift, double X, double Y);
};

// Makes strip a drag handle of window: press, move and release on it drag the window.
void MakeDragHandle(QWidget* strip, QWidget* window);
