#pragma once

#include <QString>
#include <QStringList>

class QFileDialog;
class QWidget;

// Open-file dialogs for choosing music. They never open the files they list.
//
// The stock dialog reads the first bytes of every file in the folder it shows to guess its
// type. Opening and closing a file that way releases every lock this process holds on it,
// because POSIX record locks belong to the process, not to the descriptor. Showing the
// folder that holds the database therefore silently dropped SQLite's locks; the next program
// that opened the database (sqlite3, say) then took the write-ahead log for abandoned and
// deleted it, and every later change lived only in a deleted file, lost if the program was
// killed or the computer powered off.

// Asks for one file; the empty text when cancelled.
QString ChooseOpenFile(QWidget* parent, const QString& caption, const QString& filter);

// Asks for one or more files; empty when cancelled.
QStringList ChooseOpenFiles(QWidget* parent, const QString& caption, const QString& filter);

// The dialog both use, not yet shown (owned by `parent`, or by the caller when it is null).
QFileDialog* NewOpenFileDialog(QWidget* parent, const QString& caption, const QString& filter);
