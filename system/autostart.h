// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Starting the program with the desktop session. Tests replace it: no test may touch the
// user's real autostart folder.
class Autostart {
public:
    virtual ~Autostart() = default;
    // Creates or rewrites the entry. False with *error naming the file and the reason.
    virtual bool Add(QString* error) = 0;
    // Removes the entry; no entry is success. False with *error naming the file and the reason.
    virtual bool Remove(QString* error) = 0;
    virtual bool IsPresent() const = 0;
    // The program the entry starts when it is not an installed one (a copy in a build
    // folder, which may move or go); empty when it is installed.
    virtual QString UninstalledProgram() const { return {}; }
};

// An XDG autostart entry: $XDG_CONFIG_HOME/autostart/Belvoran.desktop (default
// ~/.config/autostart), written atomically (a temporary file renamed over the old one).
class XdgAutostart : public Autostart {
public:
    // program: the absolute path of the program to start; arguments follow it.
    explicit XdgAutostart(QString program, QStringList arguments = {});

    bool Add(QString* error) override;
    bool Remove(QString* error) override;
    bool IsPresent() const override;
    QString UninstalledProgram() const override;

    // The autostart folder of the session: $XDG_CONFIG_HOME/autostart when that variable
    // holds an absolute path, else ~/.config/autostart.
    static QString Folder();
    static QString EntryPath();
    // The text of the entry file.
    QString EntryText() const;

private:
    QString program_;
    QStringList arguments_;
};

// The program the desktop should start: the installed `belvoran` found on PATH when there is
// one, so that ticking the box in a copy run from its build folder starts the installed
// program; else running (the absolute path of this program).
QString AutostartProgram(const QString& running);

// The arguments the autostarted program needs to open the same store: "--database PATH"
// (absolute) when database is not the default one, else none.
QStringList StartArguments(const QString& database, const QString& defaultDatabase);

// One argument of a desktop entry's Exec key: left bare when it holds no reserved
// character, else double-quoted with `"`, "`", "$" and "\" escaped; "%" doubled.
QString DesktopExecArgument(const QString& arg);
// A whole Exec value: the arguments joined by blanks, each as above, then escaped as a
// desktop entry string value (so every backslash of the quoting is doubled once more).
QString DesktopExecValue(const QStringList& argv);
