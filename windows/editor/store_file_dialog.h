// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class Conn;
class QWidget;

// The open-file dialogs as the windows use them (see widgets/file_chooser.h): each opens in
// the folder of the file last chosen in any of them, kept in the store, and remembers the
// folder of what it chose. Once it closes, the store is made sure of its locks, which a
// dialog showing the store's folder may have dropped; a store that cannot be opened again is
// said in a notice.

// One file; the empty text when cancelled.
QString ChooseOpenFile(QWidget* parent, const QString& caption, const QString& filter, Conn& store);
// One or more files; empty when cancelled.
QStringList ChooseOpenFiles(QWidget* parent, const QString& caption, const QString& filter,
                            Conn& store);
