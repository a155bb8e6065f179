// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the settings page tests share: a real store, the run-wide settings, a host window,
// and a message box stand-in that records what it was asked and answers as told.

#include "core/program_vars.h"
#include "store/config_loader.h"
#include "support/fakes.h"
#include "support/media.h"
#include "support/temp_store.h"
#include "widgets/message_box.h"
#include "windows/settings/settings_context.h"
#include "windows/settings/settings_grid.h"

#include <QListWidget>
#include <QtTest>

struct Asked {
    QString title;
    QString text;
    MsgMode mode;
};

// Records every notice and question; answers questions with `yes`.
struct AskRecorder {
    QVector<Asked> asked;
    bool yes = true;
    std::function<bool(const QString&, const QString&, MsgMode)> Fn() {
        return [this](const QString& title, const QString& text, MsgMode mode) {
            asked.push_back({title, text, mode});
            return mode == MsgMode::Confirm ? yes : true;
        };
    }
    QStringList Texts() const {
        QStringList t;
        for (const Asked& a : asked) {
            t << a.text;
        }
        return t;
    }
};

struct PageRig {
    PageRig() : ctx{vars, *store.conn, player, state} {
        host.resize(749, 385);
        GetConfigValue(vars, *store.conn);
        SetReplaceMusicArr(vars, *store.conn);
    }
    QString Media(const QString& name, double seconds) {
        const QString path = store.dir.path() + "/" + name;
        if (!media::Make(path, seconds)) {
            qWarning("cannot make %s", qPrintable(path));
        }
        return path;
    }
    QString Text(const QString& name, const QByteArray& bytes) {
        const QString path = store.dir.path() + "/" + name;
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }
    // The grid's visible cells of one column name, row by row (nothing for an empty grid).
    static QStringList Column(FlexGrid* grid, const QString& column) {
        QStringList out;
        if (grid->IsEmpty()) {
            return out;
        }
        for (int r = 0; r < grid->Model()->rowCount(); ++r) {
            out << grid->Model()->Cell(r, column);
        }
        return out;
    }
    static void Click(QWidget* w) {
        QVERIFY(w);
        QTest::mouseClick(w, Qt::LeftButton);
    }
    static void PressDelete(QWidget* w) {
        QTest::keyPress(w, Qt::Key_Delete);
        QTest::keyRelease(w, Qt::Key_Delete);
    }

    TempStore store;
    ProgramVars vars;
    FakePlayer player;
    SettingsState state;
    SettingsContext ctx;
    QWidget host;
    AskRecorder ask;
};
