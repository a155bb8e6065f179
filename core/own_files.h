// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Files this process holds POSIX record locks on: the store and the files beside it.
// Closing any descriptor of such a file drops every lock the process holds on it, so no
// other part of the program (a length measurement, a play) may as much as open one.

// path and its "-wal", "-shm" and "-journal" files are kept unopened from now on.
void KeepUnopened(const QString& path);
// Whether path is one of them, under any name that leads to it.
bool KeptUnopened(const QString& path);
