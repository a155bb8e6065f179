// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Collects what the program writes to standard error (the play log) while it exists, and
// passes it on to the real standard error when it ends.

#include <QFile>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

class LogCapture {
public:
    LogCapture() {
        std::fflush(stderr);
        file_.open();
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(file_.handle(), STDERR_FILENO);
    }
    ~LogCapture() {
        const QByteArray text = Text().toUtf8();
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
        std::fflush(stderr);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QString Text() {
        std::fflush(stderr);
        QFile f(file_.fileName());
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }
    // The lines holding every one of parts.
    QStringList Lines(const QStringList& parts) {
        QStringList found;
        for (const QString& line : Text().split(QLatin1Char('\n'))) {
            bool all = !line.isEmpty();
            for (const QString& p : parts) {
                all = all && line.contains(p);
            }
            if (all) {
                found << line;
            }
        }
        return found;
    }

private:
    QTemporaryFile file_;
    int saved_ = -1;
};
