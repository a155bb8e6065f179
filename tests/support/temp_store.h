// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/conn.h"
#include "support/raw_sql.h"

#include <QFile>
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
        QSqlQuery q(Db(*conn));
        if (!q.exec(sql)) {
            qFatal("raw statement failed: %s", qPrintable(sql));
        }
    }
    // The store's statements with their results returned, for short test set-ups: a failed
    // insert gives -1 and a failed read an empty list, with the reason as a test warning.
    qint64 AddEvent(const EventRow& r) { return Id(conn->AddEvent(r, &id_, &error)); }
    qint64 AddSong(const QString& group, const QString& file, const QString& length) {
        return Id(conn->AddSong(group, file, length, &id_, &error));
    }
    qint64 AddReplace(const QString& name, const QString& file, const QString& length) {
        return Id(conn->AddReplace(name, file, length, &id_, &error));
    }
    QVector<EventRow> TodayEvents(const QString& week, const QString& after) {
        QVector<EventRow> rows;
        Check(conn->TodayEvents(week, after, &rows, &error));
        return rows;
    }
    QVector<SongRow> LibrarySongs(const QString& library) {
        QVector<SongRow> rows;
        Check(conn->LibrarySongs(library, &rows, &error));
        return rows;
    }
    QVector<ReplaceRow> ReplaceRows() {
        QVector<ReplaceRow> rows;
        Check(conn->ReplaceRows(&rows, &error));
        return rows;
    }
    bool ReadConfig(ConfigRow* row) { return Check(conn->ReadConfig(row, &error)); }

    QTemporaryDir dir;
    QString path;
    std::unique_ptr<Conn> conn;
    QString error; // why the last helper call failed

private:
    qint64 Id(bool ok) { return Check(ok) ? id_ : -1; }
    bool Check(bool ok) {
        if (!ok) {
            qWarning("store statement failed: %s", qPrintable(error));
        }
        return ok;
    }
    qint64 id_ = -1;
};

inline QByteArray FileBytes(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
