// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/follower.h"

#include "central/central.h"
#include "central/replica.h"
#include "central/report_sender.h"
#include "core/play_log.h"
#include "store/conn.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

// The following thread's side: its own connections to the central timetable and to the
// store file (WAL lets it write beside the program's connection).
class FollowWorker : public QObject {
    Q_OBJECT
public:
    FollowWorker(QString central, QString site, QString path, CentralFollower::Timing timing,
                 std::shared_ptr<CentralSocket> socket)
        : central_(std::move(central)), site_(std::move(site)), path_(std::move(path)),
          timing_(timing), socket_(std::move(socket)),
          sender_(site_, [this](const QString& line) { emit Note(line); }) {}

    void Start() {
        QString error;
        local_ = Conn::Open(path_, &error);
        if (!local_) {
            emit Note(QStringLiteral("error cannot follow the central timetable: %1").arg(error));
            return;
        }
        QDateTime last;
        if (local_->LastCentralCopy(&last)) {
            emit LastCopy(last);
        }
        check_ = new QTimer(this);
        connect(check_, &QTimer::timeout, this, &FollowWorker::Check);
        check_->start(timing_.checkMs);
        poll_ = new QTimer(this);
        connect(poll_, &QTimer::timeout, this, [this] {
            Pull();
            MeasureClock();
        });
        poll_->start(timing_.pollMs);
        quiet_ = new QTimer(this);
        quiet_->setSingleShot(true);
        connect(quiet_, &QTimer::timeout, this, &FollowWorker::QuietPull);
        beat_ = new QTimer(this);
        connect(beat_, &QTimer::timeout, this, &FollowWorker::Report);
        beat_->start(timing_.heartbeatMs);
        Connect();
    }
    void SetOutputLister(CentralFollower::OutputLister list) { listOutputs_ = std::move(list); }
    void Stop() {
        server_.reset();
        local_.reset();
        delete check_;
        delete poll_;
        delete quiet_;
        delete beat_;
        check_ = poll_ = quiet_ = beat_ = nullptr;
    }
    // A changed state is sent at once: a computer's row must not say it is cut off for a
    // minute after it is back, or name a bell that has rung.
    void SetHeartbeat(const Heartbeat& beat) {
        const bool news = !(beat == sender_.LastHeartbeat());
        sender_.SetHeartbeat(beat);
        if (QString error; news && server_ && !sender_.Beat(*server_, &error)) {
            Drop(error);
        }
    }
    // Sends the play records queued; those the connection fails to send stay queued.
    void SendRecords() {
        if (QString error; server_ && local_ && !sender_.SendQueued(*server_, *local_, &error)) {
            Drop(error);
        }
    }

signals:
    void Copied(const QDateTime& when, bool changed);
    void Lost(const QString& reason);
    void LastCopy(const QDateTime& when);
    void ClockOffset(qint64 ms);
    // Whether this connection's account could write the site tables.
    void MayWrite(bool may);
    // A line for the play log, written on the program's thread.
    void Note(const QString& line);

private:
    void Connect() {
        if (socket_->Ended()) {
            return; // Stop is on its way
        }
        QString error;
        server_ = CentralStore::Open(central_, &error, socket_.get());
        if (!server_) {
            emit Lost(Reason(error));
            return;
        }
        // Pulled from the event loop, not inside the driver's signal: a failed pull closes
        // the connection whose driver is emitting.
        if (!server_->Listen(
                this,
                [this](const QString& site) {
                    if (site == site_) {
                        Heard();
                    }
                },
                &error)) {
            Drop(error);
            return;
        }
        if (bool may = false; server_->MayWrite(&may, &error)) {
            emit MayWrite(may);
        }
        Pull();
        MeasureClock();
        sender_.RetryRefusedSoon();
        Report();
    }
    // The heartbeat, then what the queue holds.
    void Report() {
        if (QString error; server_ && !sender_.Beat(*server_, &error)) {
            Drop(error);
        }
        SendRecords();
    }
    // Measured on each connection and with each full copy: a clock drifts slowly.
    void MeasureClock() {
        if (qint64 ms = 0; server_ && server_->ClockOffset(&ms)) {
            sender_.SetClockOffset(ms);
            emit ClockOffset(ms);
        }
    }
    // A burst of changes (an editor saving a day, a district-wide update) is one copy,
    // quietMs after its last change; a steady stream still copies every burstMs.
    void Heard() {
        if (!burst_.isValid()) {
            burst_.start();
        }
        const qint64 left = timing_.burstMs - burst_.elapsed();
        quiet_->start(int(std::clamp<qint64>(left, 0, timing_.quietMs)));
    }
    void QuietPull() {
        burst_.invalidate();
        Pull();
    }
    void Check() {
        QString error;
        if (!server_) {
            Connect();
        } else if (!server_->Ping(&error)) {
            Drop(error);
        }
    }
    void Pull() {
        if (!server_ || !local_) {
            return;
        }
        SiteCopy copy;
        QString error;
        if (!server_->ReadSite(site_, &copy, &error)) {
            if (error == UnknownSiteText(site_)) {
                emit Lost(error); // still listening: the site's creation is copied at once
            } else {
                Drop(error);
            }
            return;
        }
        FindZoneOutputs(&copy);
        const QDateTime now = QDateTime::currentDateTime();
        int changes = 0;
        if (!ApplySiteCopy(*local_, copy, now, &changes, &error)) {
            emit Note(QStringLiteral("error the copy of the central timetable (site %1) cannot be "
                                     "written to the local store: %2")
                          .arg(site_, error));
            return;
        }
        if (changes > 0) {
            emit Note(QStringLiteral("copied site %1: %2 changes").arg(site_).arg(changes));
        }
        emit Copied(now, changes > 0);
    }
    // This computer's sink for each zone's output named by the site. An output found before
    // under the same name keeps its sink: the machine's outputs are listed only for a name
    // not found yet, since listing opens the sound devices (one in use may be left out).
    void FindZoneOutputs(SiteCopy* copy) {
        const int index = ReplicatedZonesIndex();
        if (index < 0 || index >= copy->rows.size()) {
            return;
        }
        QVector<ZoneRow> local;
        local_->Zones(&local);
        QHash<QString, QString> outputs;
        bool listed = false;
        for (const QVector<QVariant>& row : copy->rows[index]) {
            const QString name = CopiedOutputName(row);
            const ZoneRow here = local.value(CopiedZoneNumber(row) - 1);
            if (name.isEmpty() || name == kDefaultOutputName) {
                copy->zoneSinks << QString();
            } else if (here.outputName == name && !here.sink.isEmpty()) {
                copy->zoneSinks << here.sink;
            } else {
                if (!listed && listOutputs_) {
                    outputs = listOutputs_();
                    listed = true;
                }
                copy->zoneSinks << outputs.value(name);
            }
        }
    }
    void Drop(const QString& error) {
        server_.reset();
        emit Lost(Reason(error));
    }
    // What a person is told: a call cut for taking too long says so, not libpq's words for
    // the socket it found shut; and a failure never goes without a reason (QPSQL adds the
    // statement's SQL state in brackets, empty when the connection broke).
    QString Reason(const QString& error) const {
        if (socket_->TakeCut()) {
            return QStringLiteral("中心服务器 %1 秒没有应答")
                .arg(QString::number(timing_.answerMs / 1000.0));
        }
        const QString text = QString(error).remove(QStringLiteral("()")).simplified();
        return text.isEmpty() ? QStringLiteral("与中心服务器的连接已断开") : text;
    }

    QString central_;
    QString site_;
    QString path_;
    CentralFollower::Timing timing_;
    std::shared_ptr<CentralSocket> socket_;
    std::unique_ptr<CentralStore> server_;
    std::unique_ptr<Conn> local_;
    QTimer* check_ = nullptr;
    QTimer* poll_ = nullptr;
    QTimer* quiet_ = nullptr;
    QTimer* beat_ = nullptr;
    ReportSender sender_;
    QElapsedTimer burst_; // since the first change not copied yet
    CentralFollower::OutputLister listOutputs_;
};

CentralFollower::CentralFollower(QString central, QString site, QString storePath, Timing timing,
                                 QObject* parent)
    : QObject(parent), site_(site), timing_(timing),
      thread_(QStringLiteral("CentralFollower"), timing.answerMs),
      worker_(new FollowWorker(std::move(central), std::move(site), std::move(storePath), timing,
                               thread_.Socket())) {
    thread_.Adopt(worker_);
    connect(worker_, &FollowWorker::Copied, this, &CentralFollower::OnCopied);
    connect(worker_, &FollowWorker::Lost, this, &CentralFollower::OnLost);
    connect(worker_, &FollowWorker::LastCopy, this, &CentralFollower::OnLastCopy);
    connect(worker_, &FollowWorker::MayWrite, this, &CentralFollower::OnMayWrite);
    connect(worker_, &FollowWorker::ClockOffset, this, &CentralFollower::OnClockOffset);
    connect(worker_, &FollowWorker::Note, this, [](const QString& line) { PlayLog(line); });
}

CentralFollower::~CentralFollower() {
    thread_.End([worker = worker_] { worker->Stop(); },
                QStringLiteral("warning the thread following site %1 is still connecting to the "
                               "central timetable; it is left to end by itself")
                    .arg(site_));
}

void CentralFollower::SetOutputLister(OutputLister list) {
    worker_->SetOutputLister(std::move(list)); // before the thread runs it
}

void CentralFollower::SetHeartbeat(const Heartbeat& beat) {
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, beat] { worker->SetHeartbeat(beat); }, Qt::QueuedConnection);
}

void CentralFollower::SendRecords() {
    QMetaObject::invokeMethod(worker_, &FollowWorker::SendRecords, Qt::QueuedConnection);
}

void CentralFollower::Start() {
    thread_.Watch(true);
    thread_.Start();
    QMetaObject::invokeMethod(worker_, &FollowWorker::Start, Qt::QueuedConnection);
}

void CentralFollower::OnMayWrite(bool may) {
    if (may == state_.mayWrite) {
        return; // said once
    }
    state_.mayWrite = may;
    if (may) {
        PlayLog(QStringLiteral("warning the central account of this computer may change the "
                               "timetable of every site it can reach; a follower needs only a "
                               "read-only account"));
    }
    emit StateChanged();
}

void CentralFollower::OnCopied(const QDateTime& when, bool changed) {
    state_.lastCopy = when;
    if (state_.outage && state_.refusal == UnknownSiteText(site_)) {
        PlayLog(QStringLiteral("site %1 now exists on the central timetable; copied").arg(site_));
    } else if (state_.outage) {
        PlayLog(
            QStringLiteral("the central timetable is reachable again; site %1 copied").arg(site_));
    }
    const bool stateChanged = state_.outage || !state_.reachable;
    state_.outage = false;
    state_.refusal.clear();
    state_.reachable = true;
    emit Pulled(changed);
    if (stateChanged) {
        emit StateChanged();
    }
}

void CentralFollower::OnLost(const QString& reason) {
    state_.reachable = false;
    // A mistyped site, a server of a newer program or a certificate that does not verify
    // send nobody looking for a network fault: the line says what it is.
    const bool unknownSite = reason == UnknownSiteText(site_);
    const QString refusal = unknownSite || reason.startsWith(kNewerCentralText) ? reason
                            : reason.contains(QStringLiteral("证书未通过验证"))
                                ? reason.section(QStringLiteral("（"), 0, 0)
                                : QString();
    if (state_.outage && refusal == state_.refusal) {
        return; // logged once per outage
    }
    state_.outage = true;
    state_.refusal = refusal;
    const QString what =
        unknownSite ? QStringLiteral("the central timetable has no site %1").arg(site_)
        : !refusal.isEmpty()
            ? QStringLiteral("the central timetable refuses this computer for site %1 (%2)")
                  .arg(site_, reason.simplified())
            : QStringLiteral("the central timetable cannot be reached for site %1 (%2)")
                  .arg(site_, reason.simplified());
    PlayLog(QStringLiteral("error %1; the bells ring from the local copy of %2")
                .arg(what, state_.lastCopy.isValid()
                               ? state_.lastCopy.toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                               : QStringLiteral("(none)")));
    emit StateChanged();
}

void CentralFollower::OnClockOffset(qint64 ms) {
    const auto over = [](std::optional<qint64> v) {
        return v && std::llabs(*v) > kClockOffsetLimitMs;
    };
    const std::optional<qint64> before = state_.clockOffsetMs;
    state_.clockOffsetMs = ms;
    if (over(before) == over(ms) && (!over(ms) || *before / 100 == ms / 100)) {
        return; // nothing new to show
    }
    if (over(ms) && !over(before)) {
        PlayLog(QStringLiteral("warning this computer's clock differs from the central "
                               "server's by %1 s: the bells ring on this computer's clock")
                    .arg(ms / 1000.0, 0, 'f', 1));
    } else if (!over(ms)) {
        PlayLog(QStringLiteral("this computer's clock agrees with the central server's again "
                               "(%1 ms)")
                    .arg(ms));
    }
    emit StateChanged();
}

void CentralFollower::OnLastCopy(const QDateTime& when) {
    if (!state_.lastCopy.isValid()) {
        state_.lastCopy = when;
    }
}

#include "follower.moc"
