// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

#include <sys/types.h>

class QLocalServer;
class QLocalSocket;

// The running copy's control socket: a client sends one request line, gets one JSON object
// back on one line, and the connection closes. Only the program's own user and root may ask:
// the socket file is 0600 in the user's runtime folder, and each peer's uid is checked too.

// Whether a peer running as uid peer may control a copy running as uid own.
bool PeerMayControl(uid_t peer, uid_t own);
// The reply to a refused or failed request: {"ok":false,"error":text}.
QByteArray ControlErrorReply(const QString& text);

class ControlServer {
public:
    // The reply (a JSON object) to one request: a line of UTF-8 text, without its newline,
    // holding no control characters. Nothing else ever reaches it.
    using Answer = std::function<QByteArray(const QString& request)>;
    // Requests longer than this are refused unread.
    static constexpr int kMaxRequestBytes = 1024;

    explicit ControlServer(Answer answer);
    ~ControlServer();
    // Listens at path (a socket left there by a copy that crashed is replaced); true when
    // it does, also when it already did.
    bool Listen(const QString& path);

private:
    void Accept();
    void Read(QLocalSocket* socket);
    void Reply(QLocalSocket* socket, const QByteArray& reply);

    Answer answer_;
    std::unique_ptr<QLocalServer> server_;
};

enum class ControlAsk { Answered, NoServer, Failed };
// Sends request (one line, no newline) to the server at path and waits for its reply.
// NoServer: nothing listens there (no copy runs); Failed: *error says what went wrong.
ControlAsk AskControl(const QString& path, const QByteArray& request, QByteArray* reply,
                      QString* error, int timeoutMs = 5000);
