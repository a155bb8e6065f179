// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/version.h"

// BELVORAN_VERSION comes from the build, so the version is written once, in CMakeLists.txt.
const QString kProgramVersion = QStringLiteral(BELVORAN_VERSION);
const QString kVersionText = QStringLiteral("201003(V" BELVORAN_VERSION ")");
