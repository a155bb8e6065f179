// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/control_socket.h"

#include "core/play_log.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStringDecoder>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A client that connects and says nothing is dropped after this long.
constexpr int kIdleMs = 5000;

// The uid of the process at the other end of the connected socket fd.
bool PeerUid(qintptr fd, uid_t* uid) {
    ucred cred{};
    socklen_t size = sizeof cred;
    if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || size != sizeof cred) {
        return false;
    }
    *uid = cred.uid;
    return true;
}

// The request a line (ending in '\n') holds; null when it is no single line of UTF-8 text.
QString RequestText(const QByteArray& line) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(line.chopped(1));
    if (utf8.hasError() || text.isEmpty()) {
        return {};
    }
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control) {
            return {};
        }
    }
    return text;
}

} // namespace

bool PeerMayControl(uid_t peer, uid_t own) {
    return peer == own || peer == 0;
}

QByteArray ControlErrorReply(const QString& text) {
    return QJsonDocument(QJsonObject{{"ok", false}, {"error", text}})
        .toJson(QJsonDocument::Compact);
}

ControlServer::ControlServer(Answer answer)
    : answer_(std::move(answer)), server_(std::make_unique<QLocalServer>()) {
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(),
                     [this] { Accept(); });
}

ControlServer::~ControlServer() = default;

bool ControlServer::Listen(const QString& path) {
    if (server_->isListening()) {
        return true;
    }
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(path); // left by a copy that crashed; the caller holds the lock
    if (!server_->listen(path)) {
        return false;
    }
    // Connecting needs write permission only, and nobody else gets any.
    ::chmod(QFile::encodeName(path).constData(), S_IRUSR | S_IWUSR);
    return true;
}

void ControlServer::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kIdleMs, socket, [socket] { socket->abort(); });
        uid_t peer = 0;
        if (!PeerUid(socket->socketDescriptor(), &peer) || !PeerMayControl(peer, ::geteuid())) {
            PlayLog(QStringLiteral("refused a control request from uid %1").arg(peer));
            Reply(socket, ControlErrorReply(QStringLiteral("not allowed for this user")));
            continue;
        }
        QObject::connect(socket, &QLocalSocket::readyRead, server_.get(),
                         [this, socket] { Read(socket); });
        if (socket->bytesAvailable() > 0) {
            Read(socket);
        }
    }
}

void ControlServer::Read(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestBytes) {
            Reply(socket, ControlErrorReply(QStringLiteral("request too long")));
        }
        return;
    }
    const QByteArray line = socket->readLine(kMaxRequestBytes + 1);
    if (!line.endsWith('\n')) {
        Reply(socket, ControlErrorReply(QStringLiteral("request too long")));
        return;
    }
    const QString request = RequestText(line);
    Reply(socket, request.isNull() ? ControlErrorReply(QStringLiteral("not a request line"))
                                   : answer_(request));
}

void ControlServer::Reply(QLocalSocket* socket, const QByteArray& reply) {
    // One request a connection: whatever follows it is never read.
    QObject::disconnect(socket, &QLocalSocket::readyRead, server_.get(), nullptr);
    socket->write(reply + '\n');
    socket->disconnectFromServer();
}

ControlAsk AskControl(const QString& path, const QByteArray& request, QByteArray* reply,
                      QString* error, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs)) {
        *error = socket.errorString();
        const QLocalSocket::LocalSocketError e = socket.error();
        return e == QLocalSocket::ServerNotFoundError || e == QLocalSocket::ConnectionRefusedError
                   ? ControlAsk::NoServer
                   : ControlAsk::Failed;
    }
    socket.write(request + '\n');
    // The server closes the connection once it has replied.
    const QDeadlineTimer deadline(timeoutMs);
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(int(deadline.remainingTime()));
    }
    *reply = socket.readAll().trimmed();
    if (reply->isEmpty()) {
        *error = QStringLiteral("no answer");
        return ControlAsk::Failed;
    }
    return ControlAsk::Answered;
}
