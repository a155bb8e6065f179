// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Fills *error (when given) with reason and returns false: the store's one failure path.
inline bool Failed(QString* error, const QString& reason) {
    if (error) {
        *error = reason;
    }
    return false;
}
