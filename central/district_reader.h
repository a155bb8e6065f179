// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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
    // Waits at most kEndMs for the thread: one still connecting is left to end by itself.
    ~DistrictReader() override;
    static constexpr int kEndMs = 2000;
    // Readers' threads left running at their end that have not ended since.
    static int ThreadsLeftRunning();

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

    std::shared_ptr<CentralSocket> socket_; // shared with the worker, which may outlive this
    QThread* thread_;
    DistrictWorker* worker_;
    QTimer watchdog_;
    int answerMs_;
    bool busy_ = false;
    std::optional<QDate> waiting_;
};

Q_DECLARE_METATYPE(DistrictDay)
