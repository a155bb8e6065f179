// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/district_reader.h"

#include "central/central.h"
#include "core/play_log.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <vector>

// The reading thread's side: its connection, opened at the first read and again after a
// failure.
class DistrictWorker : public QObject {
    Q_OBJECT
public:
    DistrictWorker(QString central, QString zone, int answerMs,
                   std::shared_ptr<CentralSocket> socket)
        : central_(std::move(central)), zone_(std::move(zone)), answerMs_(answerMs),
          socket_(std::move(socket)),
          name_(QStringLiteral("belvoran-district-") + QUuid::createUuid().toString()) {}
    ~DistrictWorker() override { Close(); }

    void Read(const QDate& day) {
        QString error;
        if (!open_ && !Open(&error)) {
            emit Failed(Reason(error));
            return;
        }
        DistrictDay result;
        socket_->BeginCall();
        const bool ok = ReadDistrictDay(name_, day, zone_, &result, &error);
        socket_->EndCall();
        if (!ok) {
            Close(); // the next read connects anew
            emit Failed(Reason(error));
            return;
        }
        emit Done(result);
    }
    void Close() {
        if (!open_) {
            return;
        }
        socket_->Withdraw();
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
        open_ = false;
    }

signals:
    void Done(const DistrictDay& day);
    void Failed(const QString& reason);

private:
    bool Open(QString* error) {
        if (socket_->Ended()) {
            return false;
        }
        int version = 0;
        open_ = OpenCentralDatabase(central_, name_, &version, error, socket_.get());
        if (open_ && !zone_.isEmpty()) {
            // A zone the server does not know would fail every read: the server's own then.
            QSqlQuery q(QSqlDatabase::database(name_, false));
            q.prepare(QStringLiteral("SELECT now() AT TIME ZONE ?"));
            q.addBindValue(zone_);
            if (!q.exec()) {
                PlayLog(QStringLiteral("warning the central server does not know the time zone "
                                       "%1; the district view uses the server's")
                            .arg(zone_));
                zone_.clear();
            }
        }
        return open_;
    }
    // A call cut for taking too long says so, not libpq's words for the shut socket.
    QString Reason(const QString& error) const {
        if (socket_->TakeCut()) {
            return QStringLiteral("中心服务器 %1 秒没有应答").arg(answerMs_ / 1000.0);
        }
        const QString text = QString(error).remove(QStringLiteral("()")).simplified();
        return text.isEmpty() ? QStringLiteral("与中心服务器的连接已断开") : text;
    }

    QString central_;
    QString zone_;
    int answerMs_;
    std::shared_ptr<CentralSocket> socket_;
    QString name_;
    bool open_ = false;
};

namespace {

// Threads left running at their readers' end: kept reachable, never destroyed (a QThread
// destroyed while it runs aborts the program).
struct LeftBehind {
    QThread* thread;
    DistrictWorker* worker;
};
std::vector<LeftBehind>* const leftBehind = new std::vector<LeftBehind>;

} // namespace

DistrictReader::DistrictReader(QString central, QString zone, int answerMs, QObject* parent)
    : QObject(parent), socket_(std::make_shared<CentralSocket>()), thread_(new QThread),
      worker_(new DistrictWorker(std::move(central), std::move(zone), answerMs, socket_)),
      answerMs_(answerMs) {
    thread_->setObjectName(QStringLiteral("DistrictReader"));
    worker_->moveToThread(thread_);
    connect(worker_, &DistrictWorker::Done, this, &DistrictReader::OnDone);
    connect(worker_, &DistrictWorker::Failed, this, &DistrictReader::OnFailed);
    // Checked here, not on the reading thread, which is the one stuck.
    watchdog_.setInterval(std::clamp(answerMs / 4, 50, 1000));
    connect(&watchdog_, &QTimer::timeout, this, [this] { socket_->CutWhenStuck(answerMs_); });
    thread_->start();
}

DistrictReader::~DistrictReader() {
    QMetaObject::invokeMethod(
        worker_,
        [worker = worker_, thread = thread_] {
            worker->Close();
            thread->quit();
        },
        Qt::QueuedConnection);
    socket_->CutForGood(); // a read on a hung server fails at once
    if (!thread_->wait(kEndMs)) {
        PlayLog(QStringLiteral("warning the district view's thread is still connecting to the "
                               "central timetable; it is left to end by itself"));
        leftBehind->push_back({thread_, worker_});
        return;
    }
    delete worker_;
    delete thread_;
}

int DistrictReader::ThreadsLeftRunning() {
    return int(std::count_if(leftBehind->begin(), leftBehind->end(),
                             [](const LeftBehind& left) { return left.thread->isRunning(); }));
}

void DistrictReader::Read(const QDate& day) {
    if (busy_) {
        waiting_ = day;
        return;
    }
    busy_ = true;
    watchdog_.start();
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, day] { worker->Read(day); }, Qt::QueuedConnection);
}

void DistrictReader::OnDone(const DistrictDay& day) {
    Next();
    emit Done(day);
}

void DistrictReader::OnFailed(const QString& reason) {
    Next();
    emit Failed(reason);
}

void DistrictReader::Next() {
    busy_ = false;
    watchdog_.stop();
    if (waiting_) {
        Read(*std::exchange(waiting_, std::nullopt));
    }
}

#include "district_reader.moc"
