// SPDX-License-Identifier: GPL-3.0-or-later
// Shows the event editor in add mode, in modify mode and with its zone list open, and saves
// a picture of the screen for each into the folder given as the first argument. Run it under
// Xvfb: xvfb-run -a -s "-screen 0 1280x800x24" editor_screenshot /tmp/shots
#include "audio/gst_init.h"
#include "audio/gst_player.h"
#include "core/program_vars.h"
#include "schedule/break_music.h"
#include "store/conn.h"
#include "support/media.h"
#include "support/temp_store.h"
#include "widgets/my_button.h"
#include "windows/editor/modify_event.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QScreen>

namespace {

void Shoot(ModifyEvent& dialog, const QString& path) {
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    QTest::qWait(600);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect around = dialog.frameGeometry().adjusted(-20, -20, 20, 20);
    screen->grabWindow(0, around.x(), around.y(), around.width(), around.height()).save(path);
    dialog.grab().save(QString(path).replace(".png", "-widget.png"));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(out);
    EnsureGstInit();
    TempStore store;
    const QString song = store.dir.path() + "/眼保健操.wav";
    media::Make(song, 205);

    ProgramVars vars;
    vars.ClassMusicArr = {QStringLiteral("曲库_早操"), QStringLiteral("曲库_午休")};
    vars.ReplaceMusicArr = {{QStringLiteral("雨天铃声"), song}, {QStringLiteral("雨天音乐"), song}};
    GstPlayer player;
    const qint64 id =
        store.AddEvent({0, QStringLiteral("星期一"), QStringLiteral("眼保健操"),
                        QStringLiteral("10:05:30"), song, QStringLiteral("00:03:25"),
                        QStringLiteral("√"), QStringLiteral("雨天音乐"), QStringLiteral("100001")});
    {
        ModifyEvent add(vars, *store.conn, player, QStringLiteral("星期一"), 0);
        add.Load();
        Shoot(add, out + "/editor-add.png");
    }
    {
        ModifyEvent modify(vars, *store.conn, player, QStringLiteral("星期一"), id);
        modify.Load();
        Shoot(modify, out + "/editor-modify.png");
        modify.ShowZoneList();
        Shoot(modify, out + "/editor-zones.png");
    }
    {
        const qint64 lib =
            store.AddEvent({0, QStringLiteral("星期一"), QStringLiteral("曲库_午休"),
                            QStringLiteral("12:00:00"), kBreakMusicFile, ModifyEvent::kZeroLength,
                            QStringLiteral("√"), QString(), QStringLiteral("111111")});
        ModifyEvent library(vars, *store.conn, player, QStringLiteral("星期一"), lib);
        library.Load();
        Shoot(library, out + "/editor-library.png");
    }
    return 0;
}
