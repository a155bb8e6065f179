#pragma once

#include <QString>

// The program's user-interface font family, set explicitly so that Chinese text renders
// the same on every machine.
inline QString UiFontFamily() {
    return QStringLiteral("WenQuanYi Micro Hei");
}
