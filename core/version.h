#pragma once

#include <QString>

// The version the program shows in its window, --version and the desktop's about data.
inline const QString kVersionText = QStringLiteral("201003(V4.2)");
