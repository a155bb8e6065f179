// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/record_writer.h"

#include "core/play_log.h"
#include "store/conn.h"

#include <QFileInfo>

// The writing thread's side: its own connection, opened when first needed and again after a
// failure, so a store that was replaced or repaired is written to again.
class RecordStore : public QObject {
public:
    explicit RecordStore(QString path) : path_(std::move(path)) {}

    // Empty when record was written; otherwise why not.
    QString Write(const PlayRecordRow& record) {
        QString error;
        if (!conn_ && !Open(&error)) {
            return error;
        }
        const bool ok = site_.isEmpty() ? conn_->AddPlayRecord(record, nullptr, &error)
                                        : conn_->AddPlayRecordToSend(record, site_, &error);
        if (!ok) {
            conn_.reset();
            return error.isEmpty() ? QStringLiteral("unknown error") : error;
        }
        return {};
    }
    void SendTo(const QString& site) { site_ = site; }
    // The connection belongs to this thread: it is closed here too.
    void Close() { conn_.reset(); }

private:
    bool Open(QString* error) {
        // Opening a missing file would make a new, empty store that nobody reads.
        if (!QFileInfo::exists(path_)) {
            *error = QStringLiteral("%1 does not exist").arg(path_);
            return false;
        }
        conn_ = Conn::Open(path_, error);
        return conn_ != nullptr;
    }

    QString path_;
    QString site_; // the central site records are queued for; empty: none
    std::unique_ptr<Conn> conn_;
};

RecordWriter::RecordWriter(const QString& storePath, QObject* parent)
    : QObject(parent), store_(new RecordStore(storePath)) {
    thread_.setObjectName(QStringLiteral("RecordWriter"));
    store_->moveToThread(&thread_);
    thread_.start(QThread::LowPriority);
}

RecordWriter::~RecordWriter() {
    // Posted after every queued record, so those are written first.
    QMetaObject::invokeMethod(
        store_,
        [this] {
            store_->Close();
            thread_.quit();
        },
        Qt::QueuedConnection);
    thread_.wait();
    delete store_;
}

void RecordWriter::Add(const PlayRecordRow& record) {
    QMetaObject::invokeMethod(
        store_,
        [this, record] {
            const QString error = store_->Write(record);
            QMetaObject::invokeMethod(
                this, [this, record, error] { Done(record, error); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void RecordWriter::SendTo(const QString& site) {
    // In order with the records: those added before are not queued.
    QMetaObject::invokeMethod(
        store_, [this, site] { store_->SendTo(site); }, Qt::QueuedConnection);
}

void RecordWriter::Done(const PlayRecordRow& record, const QString& error) {
    if (error.isEmpty()) {
        failing_ = false;
        emit Written(true);
        return;
    }
    if (!failing_) {
        // Once for a run of failures: a full disk must not flood the log at every bell.
        PlayLog(QStringLiteral("The record of %1 %2 %3 is not kept: %4 (further failures "
                               "are not logged until a record is kept again)")
                    .arg(record.date, record.time, record.event, error));
    }
    failing_ = true;
    emit Written(false);
}
