// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QPalette>
#include <QRect>

class MyButton;
class QWidget;

// The parts every skinned window shares: background picture, title strip, a transparent
// drag handle over the strip, the title label and the "×" close button.
struct Skin {
    QLabel* background = nullptr;     // background, stretched over the client area
    QLabel* ImgTitle = nullptr;       // title strip picture
    QWidget* Img_FormTitle = nullptr; // transparent drag handle over the strip
    QLabel* Lab_FormTitle = nullptr;  // title text
    MyButton* yButton_Close = nullptr;

    // Creates the parts on window. Rectangles and points are in twips.
    static Skin Build(QWidget* window, const QRect& titleStrip, const QPoint& titleLabel,
                      const QRect& closeButton);
    // The load steps every skinned window runs first: region, background stretched,
    // drag handle over the strip, title label showing the window's caption.
    void Preamble(QWidget* window);
    // Stretches the background over the client area again (on resize).
    void StretchBackground(QWidget* window);
    // The "×" joins the Tab order after the window's last control (before first, which the
    // window opens on).
    void CloseInTabOrder(QWidget* first);
};

// The colours every skinned window and its controls are drawn in: light panels, dark text.
// The pictures behind them are light, so the desktop's theme (a dark one above all) must not
// reach them.
QPalette SkinPalette();
// Gives window and its controls the skin's palette. A combo box's pop-up list is a menu of the
// desktop's, drawn in its colours as the tray menu is.
void KeepSkinPalette(QWidget* window);

// Places window with its centre on the centre of parent's window, inside that screen.
void CenterOn(QWidget* window, const QWidget* parent);

// Draws every group box inside root as a plain line around a panel of exactly back. The
// platform style shades a group box's inside a few steps darker than its colour, which
// shows as patches beside labels and boxes painted in back.
void FlatFrames(QWidget* root, const QColor& back);
