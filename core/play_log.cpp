// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/play_log.h"

#include <QStringList>

#include <cstdio>
#include <sys/stat.h>

namespace {

PlayLogCapture* capture = nullptr;

// A message as one line: a file name or a note may hold any character, and a line break
// in it would read as two events.
QString OneLine(const QString& message) {
    QString out;
    out.reserve(message.size());
    for (QChar c : message) {
        const char16_t u = c.unicode();
        if (u == '\\') {
            out += QStringLiteral("\\\\");
        } else if (u == '\n') {
            out += QStringLiteral("\\n");
        } else if (u == '\r') {
            out += QStringLiteral("\\r");
        } else if (u == '\t') {
            out += QStringLiteral("\\t");
        } else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029) {
            out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

// Decided once: standard error does not change while the program runs.
bool StderrIsJournal() {
    static const bool journal = [] {
        struct stat st = {};
        return ::fstat(fileno(stderr), &st) == 0 &&
               IsJournalStream(qgetenv("JOURNAL_STREAM"), quint64(st.st_dev), quint64(st.st_ino));
    }();
    return journal;
}

} // namespace

int JournalPriority(const QString& message) {
    const QString word = message.section(QLatin1Char(' '), 0, 0);
    if (word == u"error") {
        return 3;
    }
    if (word == u"warn" || word == u"warning" || word == u"missed" || word == u"cannot") {
        return 4;
    }
    return 6;
}

bool IsJournalStream(const QByteArray& journalStream, quint64 device, quint64 inode) {
    const QList<QByteArray> parts = journalStream.split(':');
    if (parts.size() != 2) {
        return false;
    }
    bool devOk = false, inoOk = false;
    const quint64 dev = parts[0].toULongLong(&devOk);
    const quint64 ino = parts[1].toULongLong(&inoOk);
    return devOk && inoOk && dev == device && ino == inode;
}

void PlayLog(const QString& message) {
    PlayLog(QDateTime::currentDateTime(), message);
}

void PlayLog(const QDateTime& when, const QString& text) {
    const QString message = OneLine(text);
    const QString priority =
        StderrIsJournal() ? QStringLiteral("<%1>").arg(JournalPriority(message)) : QString();
    const QByteArray line = (priority + when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) +
                             QLatin1Char(' ') + message + QLatin1Char('\n'))
                                .toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
    if (capture) {
        capture->lines << message;
    }
}

PlayLogCapture::PlayLogCapture() {
    capture = this;
}

PlayLogCapture::~PlayLogCapture() {
    if (capture == this) {
        capture = nullptr;
    }
}

QStringList PlayLogCapture::Matching(const QString& text) const {
    return lines.filter(text);
}
