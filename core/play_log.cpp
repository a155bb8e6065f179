#include "core/play_log.h"

#include <QStringList>

#include <cstdio>

namespace {

PlayLogCapture* capture = nullptr;

} // namespace

void PlayLog(const QString& message) {
    PlayLog(QDateTime::currentDateTime(), message);
}

void PlayLog(const QDateTime& when, const QString& message) {
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
