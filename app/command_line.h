#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for. Parsed before any window exists, so --help and
// --version work without a display.
struct CommandLine {
    enum Action { Run, ShowHelp, ShowVersion, Error };
    Action action = Run;
    QString database; // --database PATH; empty = the default path
    QString error;    // with Error: what was wrong
};

CommandLine ParseCommandLine(const QStringList& args);
QString HelpText();
QString VersionText();
