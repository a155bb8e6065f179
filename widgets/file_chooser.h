// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class QFileDialog;
class QWidget;

// The program's open-file dialogs (music, holiday calendars). They never open the files they
// list, and every program dialog that lists a folder is one of them.
//
// The stock dialog reads the first bytes of every file in the folder it shows to guess its
// type. Opening and closing a file that way releases every lock this process holds on it,
// because POSIX record locks belong to the process, not to the descriptor. Showing the
// folder that holds the database therefore silently dropped SQLite's locks; the next program
// that opened the database (sqlite3, say) then took the write-ahead log for abandoned and
// deleted it, and every later change lived only in a deleted file, lost if the program was
// killed or the computer powered off. Once a dialog closes, whoever asked checks the store all
// the same (Conn::KeepLocks): whatever else dropped its locks, it is opened again before use.

// The music dialogs' filter: the program's own formats and those the installed GStreamer
// plays as well (.oga, .opus, .m4a).
QString MusicFileFilter();

// Asks for one file (several: one or more); empty when cancelled. The dialog opens in
// *folder when it is one, and *folder becomes the folder of what was chosen.
QStringList AskForFiles(QWidget* parent, const QString& caption, const QString& filter,
                        bool several, QString* folder);

// The dialog both use, not yet shown (owned by `parent`, or by the caller when it is null).
QFileDialog* NewOpenFileDialog(QWidget* parent, const QString& caption, const QString& filter);
