// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

struct ConfigRow;
struct ProgramVars;
class Conn;

// Hands the stored options that steer the running program (play order, shutdown time,
// start hidden) to it. The one way they reach ProgramVars: at start-up through
// GetConfigValue, and when the settings window's apply has stored them.
void ApplyStoredOptions(const ConfigRow& stored, ProgramVars& vars);

// Reload the program-wide settings from the store (GetConfigValue: all of them, at start-up).
// Each returns false (leaving the values as they were, with the reason in *error) when the
// store cannot be read.
bool GetConfigValue(ProgramVars& vars, Conn& conn, QString* error = nullptr);
bool SetClassMusicArr(ProgramVars& vars, Conn& conn, QString* error = nullptr);
bool SetReplaceMusicArr(ProgramVars& vars, Conn& conn, QString* error = nullptr);
