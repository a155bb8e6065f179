// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The program's version, CMake's project version: "4.2". --version prints it.
extern const QString kProgramVersion;
// The version the program shows in its window and the desktop's about data.
extern const QString kVersionText;
