// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class Conn;
class QLabel;
class QTableWidget;

// The record of changes: the latest changes of the central site being edited, newest first, each
// with when, who (the central account), which table and what it did.
class ChangeRecordsDialog : public QDialog {
    Q_OBJECT
public:
    ChangeRecordsDialog(Conn& conn, QWidget* parent = nullptr);

    // Reads the records again.
    void Load();

private:
    Conn& conn_;
    QTableWidget* grid_;
    QLabel* error_;
};
