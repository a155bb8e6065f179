// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/rows.h"

#include <QObject>
#include <QThread>

class RecordStore;

// Keeps the timetable's outcomes in 播放记录 without holding up the thread that rings the
// bells: records are queued to a thread of their own, which writes them through its own
// connection to the store file (WAL lets it write beside the program's connection). A record
// that cannot be written is lost alone, with one log line for a run of such failures. While
// the computer follows a site, each record is also queued for the central timetable.
class RecordWriter : public QObject {
    Q_OBJECT
public:
    // storePath: the program's store (Conn::Path()); it is opened at the first record.
    explicit RecordWriter(const QString& storePath, QObject* parent = nullptr);
    // Writes what is queued, then ends the thread.
    ~RecordWriter() override;

    // Queues record to be written; returns at once.
    void Add(const PlayRecordRow& record);
    // From the records added after this on, each is also queued in the store, in its own
    // transaction, to be sent to site of the central timetable; an empty site stops that.
    void SendTo(const QString& site);

signals:
    // One per record added, in order: it was written, or it is lost.
    void Written(bool ok);

private:
    void Done(const PlayRecordRow& record, const QString& error);

    QThread thread_;
    RecordStore* store_;
    bool failing_ = false;
};
