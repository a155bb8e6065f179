#include "store/config_loader.h"

#include "core/program_vars.h"
#include "store/conn.h"

QStringList SplitList(const QString& text) {
    if (text.isEmpty()) {
        return {};
    }
    return text.split(QLatin1Char('|'), Qt::KeepEmptyParts);
}

bool GetConfigValue(ProgramVars& vars) {
    ConfigRow row;
    if (!vars.Conn->ReadConfig(&row)) {
        return false;
    }
    vars.PlayOrder = row.playOrder;
    vars.ShutDownTime = row.shutDownTime;
    vars.RainMode = row.rememberRain ? row.rainMode : false;
    vars.MinToTray = row.minToTray;
    vars.ShowClock = row.showClock;
    vars.ClassMusicArr = SplitList(row.libraryList);
    return true;
}

bool SetClassMusicArr(ProgramVars& vars) {
    QString text;
    if (!vars.Conn->ReadLibraryList(&text)) {
        return false;
    }
    vars.ClassMusicArr = SplitList(text);
    return true;
}

bool SetReplaceMusicArr(ProgramVars& vars) {
    bool ok = false;
    const QVector<ReplaceRow> rows = vars.Conn->ReplaceRows(&ok);
    if (!ok) {
        return false;
    }
    vars.ReplaceMusicArr.clear();
    vars.ReplaceMusicArr.reserve(rows.size());
    for (const ReplaceRow& r : rows) {
        vars.ReplaceMusicArr.push_back({r.name, r.file});
    }
    return true;
}
