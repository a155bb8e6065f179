#include "core/play_log.h"

#include <QStringList>

#include <cstdio>

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

} // namespace

void PlayLog(const QString& message) {
    PlayLog(QDateTime::currentDateTime(), message);
}

void PlayLog(const QDateTime& when, const QString& text) {
    const QString message = OneLine(text);
    const QByteArray line = (when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) +
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
