// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/reason_text.h"

#include <QRegularExpression>

namespace {

struct Wording {
    const char* pattern; // the log's words, anchored; captures carry names and times
    const char* people;  // %1, %2: the captures
};

const Wording kWordings[] = {
    {"does not exist", "文件不存在"},
    {"is not named", "没有指定文件"},
    {"is a folder, not a sound file", "这是一个文件夹，不是声音文件"},
    {"is not a regular file", "不是普通文件"},
    {"is the program's own database, not a sound file", "这是本程序的数据库，不是声音文件"},
    {"cannot be read \\((.*)\\)", "文件无法读取（%1）"},
    {"is empty \\(0 bytes\\)", "文件是空的（0 字节）"},
    {"is not a sound file.*", "不是声音文件"},
    {"break-music library has no songs", "课间音乐曲库中没有歌曲"},
    {"no song of the break-music library can be played", "曲库中没有能播放的歌曲"},
    {"break music: no song of the library could be played", "曲库中没有能播放的歌曲"},
    {"no music file", "没有设置音乐文件"},
    {"rain mode, no replacement named \"(.*)\"", "雨天模式，但没有名为“%1”的替代音乐"},
    {"the settings window was open", "设置窗口打开着，没有播放"},
    {"the window \"(.*)\" was in front", "窗口“%1”在前，没有播放"},
    {"the schedule was paused", "播放暂停中，没有播放"},
    {"the clock reached (.*)", "时钟已到 %1（电脑休眠或时间被调整）"},
    {"the day ended", "当天已结束"},
    {"replaced by \"(.*)\" at the same second", "同一秒的“%1”代替了它"},
    {"already played today", "今天已播放过"},
    {"played now by hand", "手动立即播放"},
    {"no sound output", "没有可用的声音输出"},
    {"no sample reached the sink", "没有声音到达输出设备"},
};

} // namespace

QString ReasonForPeople(const QString& reason) {
    for (const Wording& w : kWordings) {
        const QRegularExpression re(
            QRegularExpression::anchoredPattern(QString::fromUtf8(w.pattern)));
        const QRegularExpressionMatch m = re.match(reason);
        if (m.hasMatch()) {
            QString text = QString::fromUtf8(w.people);
            for (int i = 1; i <= re.captureCount(); ++i) {
                text = text.arg(m.captured(i));
            }
            return text;
        }
    }
    return reason;
}
