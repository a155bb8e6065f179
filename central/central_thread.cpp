// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/central_thread.h"

#include "central/central.h"
#include "core/play_log.h"

#include <QThread>

#include <algorithm>
#include <vector>

namespace {

// Threads left running at their owners' end, with their workers: kept reachable, never
// destroyed (a QThread destroyed while it runs aborts the program).
struct LeftBehind {
    QThread* thread;
    QObject* worker;
};
std::vector<LeftBehind>* const leftBehind = new std::vector<LeftBehind>;

} // namespace

CentralThread::CentralThread(const QString& name, int answerMs)
    : socket_(std::make_shared<CentralSocket>()), thread_(new QThread) {
    thread_->setObjectName(name);
    watchdog_.setInterval(std::clamp(answerMs / 4, 50, 1000));
    QObject::connect(&watchdog_, &QTimer::timeout, &watchdog_,
                     [socket = socket_, answerMs] { socket->CutWhenStuck(answerMs); });
}

CentralThread::~CentralThread() {
    if (thread_) {
        End({}, QStringLiteral("warning a central timetable thread is still connecting; it is "
                               "left to end by itself"));
    }
}

void CentralThread::Adopt(QObject* worker) {
    worker_ = worker;
    worker_->moveToThread(thread_);
}

void CentralThread::Start() {
    thread_->start();
}

void CentralThread::Watch(bool on) {
    if (on) {
        watchdog_.start();
    } else {
        watchdog_.stop();
    }
}

void CentralThread::End(const std::function<void()>& stop, const QString& leftLine) {
    watchdog_.stop();
    if (thread_->isRunning()) {
        QMetaObject::invokeMethod(
            worker_,
            [stop, thread = thread_] {
                if (stop) {
                    stop();
                }
                thread->quit();
            },
            Qt::QueuedConnection);
        socket_->CutForGood();
        if (!thread_->wait(kEndMs)) {
            PlayLog(leftLine);
            leftBehind->push_back({thread_, worker_});
            thread_ = nullptr;
            return;
        }
    }
    delete worker_;
    delete thread_;
    thread_ = nullptr;
}

int CentralThread::LeftRunning() {
    return int(std::count_if(leftBehind->begin(), leftBehind->end(),
                             [](const LeftBehind& left) { return left.thread->isRunning(); }));
}
