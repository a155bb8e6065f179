// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Checks of desktop entry files with the desktop's own tools: desktop-file-validate, and
// GLib's launcher (gio launch) starting a recorder program that writes down its argv.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

namespace desktop_entry {

// Runs a program to its end; its exit code (-1 when it could not run) and merged output.
inline int Run(const QString& program, const QStringList& args, QString* output) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        *output = QStringLiteral("did not run: ") + p.errorString();
        return -1;
    }
    *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// desktop-file-validate passes the file: exit code 0 and no error line. "" or the complaint.
inline QString ValidationErrors(const QString& path) {
    QString output;
    const int rc = Run(QStringLiteral("desktop-file-validate"), {path}, &output);
    return rc == 0 && !output.contains(QLatin1String("error")) ? QString()
                                                               : output + QStringLiteral(" ");
}

// Writes at path a program that records each argument it gets, $0 first, into $ARGS_OUT.
inline bool WriteRecorder(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        return false;
    }
    f.write(
        "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > \"$ARGS_OUT.part\"\n"
        "mv \"$ARGS_OUT.part\" \"$ARGS_OUT\"\n");
    f.close();
    return f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Launches the entry as the desktop does and returns the argv the started program got
// (empty when the launcher refused the entry). outFile is where the recorder writes.
inline QStringList LaunchedArgv(const QString& entry, const QString& outFile) {
    QFile::remove(outFile);
    qputenv("ARGS_OUT", QFile::encodeName(outFile));
    QString output;
    if (Run(QStringLiteral("gio"), {QStringLiteral("launch"), entry}, &output) != 0) {
        qWarning("gio launch: %s", qPrintable(output));
        return {};
    }
    // The launcher starts the program without waiting for it; the recorder renames its
    // file into place when it has written every argument.
    QFile f(outFile);
    if (!QTest::qWaitFor([&] { return f.exists(); }, 60000) || !f.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList argv = QString::fromUtf8(f.readAll()).split(QChar(0));
    argv.removeLast();
    return argv;
}

} // namespace desktop_entry
