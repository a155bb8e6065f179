// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/clock.h"
#include "windows/settings/settings_state.h"

class Conn;
class Player;
struct ProgramVars;

// What every page of the settings window gets: the run-wide settings, the store, the
// player (to measure and try out music), the window's remembered state and the clock.
struct SettingsContext {
    ProgramVars& vars;
    Conn& conn;
    Player& player;
    SettingsState& state;
    const Clock& clock = TheSystemClock();
};
