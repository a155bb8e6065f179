#include "store/config_loader.h"

#include "core/program_vars.h"
#include "store/conn.h"

QStringList SplitList(const QString& text) {
    if (text.isEmpty()) {
        return {};
    }
    return text.split(QLatin1Char('|'), Qt::KeepEmptyParts);
}

bool GetConfigValue(ProgramVars& vars, Conn& conn, QString* error) {
    ConfigRow row;
    if (!conn.ReadConfig(&row, error)) {
        return false;
    }
    vars.PlayOrder = PlayOrderFromStored(row.playOrder);
    vars.ShutDownTime = row.shutDownTime;
    vars.RainMode = row.rememberRain ? row.rainMode : false;
    vars.MinToTray = row.minToTray;
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
