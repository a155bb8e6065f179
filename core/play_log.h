// SPDX-License-Identifier: GPL-3.0-or-later
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

// When standard error is the systemd journal, each line starts with its syslog priority
// ("<3>" an error, "<4>" a warning, "<6>" the rest), read from the message's first word:
// "error" (a failed bell, an outage), "warn"/"warning"/"missed"/"cannot" (an unplayable file,
// a bell that did not ring). Elsewhere the lines are as they always were.
int JournalPriority(const QString& message);
// Whether standard error is the journal's stream: JOURNAL_STREAM ("DEV:INO", as systemd sets
// it) names the device and inode that fstat finds for standard error. A child of a service
// inherits the variable with another stderr, and then it does not match.
bool IsJournalStream(const QByteArray& journalStream, quint64 device, quint64 inode);

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
