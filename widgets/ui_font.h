// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QString>

// The program's user-interface font family, set explicitly so that Chinese text renders
// the same on every machine.
inline QString UiFontFamily() {
    return QStringLiteral("WenQuanYi Micro Hei");
}

// The font of every window and control that sets none of its own.
inline QFont UiFont() {
    QFont font(UiFontFamily());
    font.setPixelSize(12);
    return font;
}
