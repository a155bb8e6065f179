// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/district_reader.h"

#include "central/central.h"
#include "core/play_log.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>


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

DistrictReader::DistrictReader(QString central, QString zone, int answerMs, QObject* parent)
    : QObject(parent), thread_(QStringLiteral("DistrictReader"), answerMs),
      worker_(new DistrictWorker(std::move(central), std::move(zone), answerMs, thread_.Socket())) {
    thread_.Adopt(worker_);
    connect(worker_, &DistrictWorker::Done, this, &DistrictReader::OnDone);
    connect(worker_, &DistrictWorker::Failed, this, &DistrictReader::OnFailed);
    thread_.Start();
}

DistrictReader::~DistrictReader() {
    thread_.End([worker = worker_] { worker->Close(); },
                QStringLiteral("warning the district view's thread is still connecting to the "
                               "central timetable; it is left to end by itself"));
}

void DistrictReader::Read(const QDate& day) {
    if (busy_) {
        waiting_ = day;
        return;
    }
    busy_ = true;
    thread_.Watch(true);
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
    thread_.Watch(false);
    if (waiting_) {
        Read(*std::exchange(waiting_, std::nullopt));
    }
}

#include "district_reader.moc"
