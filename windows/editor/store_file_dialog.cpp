// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/editor/store_file_dialog.h"

#include "store/conn.h"
#include "widgets/file_chooser.h"
#include "widgets/message_box.h"

namespace {

QStringList Ask(QWidget* parent, const QString& caption, const QString& filter, bool several,
                Conn& store) {
    QString folder;
    store.LastFolder(&folder);
    const QString before = folder;
    const QStringList chosen = AskForFiles(parent, caption, filter, several, &folder);
    QString error;
    if (!store.KeepLocks(&error)) {
        ShowMessage(parent, caption, error, MsgMode::Notice);
    }
    if (!chosen.isEmpty() && folder != before) {
        store.SetLastFolder(folder); // a convenience only
    }
    return chosen;
}

} // namespace

QString ChooseOpenFile(QWidget* parent, const QString& caption, const QString& filter,
                       Conn& store) {
    const QStringList files = Ask(parent, caption, filter, false, store);
    return files.isEmpty() ? QString() : files.first();
}

QStringList ChooseOpenFiles(QWidget* parent, const QString& caption, const QString& filter,
                            Conn& store) {
    return Ask(parent, caption, filter, true, store);
}
