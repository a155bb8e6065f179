#pragma once

#include "store/conn.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

// A fresh store in a temporary folder, removed with the test.
struct TempStore {
    TempStore() : path(dir.path() + QStringLiteral("/Music.db")) {
        QString error;
        conn = Conn::Open(path, &error);
        if (!conn) {
            qFatal("cannot create a test store: %s", qPrintable(error));
        }
    }
    // Runs one raw statement (tests use it to plant data the program never writes).
    void Raw(const QString& sql) {
        QSqlQuery q(conn->Database());
        if (!q.exec(sql)) {
            qFatal("raw statement failed: %s", qPrintable(sql));
        }
    }
    QTemporaryDir dir;
    QString path;
    std::unique_ptr<Conn> conn;
};

inline QByteArray FileBytes(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
