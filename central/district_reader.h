// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/central_thread.h"
#include "central/district_status.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class CentralSocket;
class DistrictWorker;
class QThread;

// Reads the district view (ReadDistrictDay) on a thread of its own with its own connection,
// as a following computer copies its site: a window that asks never waits on the network,
// and a call on a server that stops answering is cut after answerMs.
class DistrictReader : public QObject {
    Q_OBJECT
public:
    // central: as CentralConnectOptions takes it; zone: the district's time zone (an IANA
    // name; the server's own when the server does not know it).
    DistrictReader(QString central, QString zone, int answerMs = 15 * 1000,
                   QObject* parent = nullptr);
    // Waits at most CentralThread::kEndMs for the thread: one still connecting is left to end
    // by itself (CentralThread::LeftRunning).
    ~DistrictReader() override;

    // Reads day; asked while a read runs, it is read next (only the latest day asked).
    void Read(const QDate& day);
    bool Busy() const { return busy_; }

signals:
    void Done(const DistrictDay& day);
    void Failed(const QString& reason);

private:
    void OnDone(const DistrictDay& day);
    void OnFailed(const QString& reason);
    void Next();

    CentralThread thread_;
    DistrictWorker* worker_; // the thread's
    bool busy_ = false;
    std::optional<QDate> waiting_;
};

Q_DECLARE_METATYPE(DistrictDay)
