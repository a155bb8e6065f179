#pragma once

#include <QString>
#include <QStringList>

class Conn;
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
// killed or the computer powered off. Once a dialog closes, the store is checked all the same
// (Conn::KeepLocks): whatever else dropped its locks, it is opened again before it is used.

// The music dialogs' filter: the program's own formats and those the installed GStreamer
// plays as well (.oga, .opus, .m4a).
QString MusicFileFilter();

// Each dialog opens in the folder of the file last chosen in any of them (kept in the
// store), and remembers the folder of what it chose.

// Asks for one file; the empty text when cancelled.
QString ChooseOpenFile(QWidget* parent, const QString& caption, const QString& filter, Conn& store);

// Asks for one or more files; empty when cancelled.
QStringList ChooseOpenFiles(QWidget* parent, const QString& caption, const QString& filter,
                            Conn& store);

// The dialog both use, not yet shown (owned by `parent`, or by the caller when it is null).
QFileDialog* NewOpenFileDialog(QWidget* parent, const QString& caption, const QString& filter);
