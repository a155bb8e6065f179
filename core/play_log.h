#pragma once

#include <QDateTime>
#include <QString>

// The play log: one line on standard error per fired, skipped or failed event, with the
// date and time to the millisecond, readable with journalctl or in a terminal.
void PlayLog(const QString& message);
void PlayLog(const QDateTime& when, const QString& message);
