#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// The play log: one line on standard error per fired, skipped or failed event, with the
// date and time to the millisecond, readable with journalctl or in a terminal. Control
// characters and line separators in a message are escaped ("\n", "\u001b"), and so is the
// backslash ("\\"), so that every message stays one line.
void PlayLog(const QString& message);
void PlayLog(const QDateTime& when, const QString& message);

// While one exists, every play-log message (without its time stamp) is also collected here,
// so tests can read what the administrator would see. One at a time.
class PlayLogCapture {
public:
    PlayLogCapture();
    ~PlayLogCapture();
    PlayLogCapture(const PlayLogCapture&) = delete;
    PlayLogCapture& operator=(const PlayLogCapture&) = delete;

    // The collected messages that contain text.
    QStringList Matching(const QString& text) const;

    QStringList lines;
};
