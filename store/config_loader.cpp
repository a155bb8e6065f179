// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/config_loader.h"

#include "core/program_vars.h"
#include "store/conn.h"
#include "store/split_list.h"

void ApplyStoredOptions(const ConfigRow& stored, ProgramVars& vars) {
    vars.PlayOrder = stored.playOrder;
    vars.ShutDownTime = stored.shutDownTime;
    vars.MinToTray = stored.minToTray;
}

bool GetConfigValue(ProgramVars& vars, Conn& conn, QString* error) {
    ConfigRow row;
    if (!conn.ReadConfig(&row, error)) {
        return false;
    }
    ApplyStoredOptions(row, vars);
    vars.RainMode = row.rememberRain ? row.rainMode : false;
    vars.ShowClock = row.showClock;
    vars.ClassMusicArr = SplitList(row.libraryList);
    return true;
}

bool SetClassMusicArr(ProgramVars& vars, Conn& conn, QString* error) {
    QString text;
    if (!conn.ReadLibraryList(&text, error)) {
        return false;
    }
    vars.ClassMusicArr = SplitList(text);
    return true;
}

bool SetReplaceMusicArr(ProgramVars& vars, Conn& conn, QString* error) {
    QVector<ReplaceRow> rows;
    if (!conn.ReplaceRows(&rows, error)) {
        return false;
    }
    vars.ReplaceMusicArr.clear();
    vars.ReplaceMusicArr.reserve(rows.size());
    for (const ReplaceRow& r : rows) {
        vars.ReplaceMusicArr.push_back({r.name, r.file});
    }
    return true;
}
