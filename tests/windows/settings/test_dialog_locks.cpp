// SPDX-License-Identifier: GPL-3.0-or-later
// Every file dialog of the program, listing the store's folder in both view modes, as the
// folder it starts in and as one gone back to: none opens the store's files (inotify sees
// every open, this process's too), and the store keeps its locks.
#include "core/program_vars.h"
#include "support/fakes.h"
#include "support/temp_store.h"
#include "widgets/file_chooser.h"
#include "windows/editor/modify_event.h"
#include "windows/editor/store_file_dialog.h"
#include "windows/settings/holidays_page.h"
#include "windows/settings/music_page.h"
#include "windows/settings/replace_page.h"
#include "windows/settings/settings_context.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTimer>
#include <QtTest>
#include <sys/inotify.h>

class TestDialogLocks : public QObject {
    Q_OBJECT

    QTemporaryDir config_, elsewhere_;
    std::unique_ptr<TempStore> store_;

    // Once the modal dialog shows: every file listed, the view mode, the folders of route;
    // then Esc, when the store's three files are typed and drawn.
    void Drive(QFileDialog::ViewMode view, QStringList route) {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [=, this, first = true]() mutable {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (d && std::exchange(first, false)) {
                d->setNameFilter("所有文件 (*)");
                d->setViewMode(view);
            }
            if (d && !route.isEmpty()) {
                d->setDirectory(route.takeFirst());
                return;
            }
            for (const QString s : {"", "-wal", "-shm"}) {
                auto* model = d ? d->findChild<QFileSystemModel*>() : nullptr;
                const QModelIndex i = model ? model->index(store_->path + s) : QModelIndex();
                if (!i.isValid() || model->data(i.siblingAtColumn(2)).toString().isEmpty() ||
                    model->data(i, Qt::DecorationRole).isNull()) {
                    return;
                }
            }
            timer->deleteLater();
            d->reject();
        });
        timer->start(20);
    }

private slots:
    // One store, in the working folder: the first dialog starts there, every later one in
    // the folder the one before it showed last.
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path())); // not the real Qt settings
        store_ = std::make_unique<TempStore>();
        QDir::setCurrent(store_->dir.path());
    }

    void noDialogOpensTheStoresFiles_data() {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<QFileDialog::ViewMode>("view");
        QTest::addColumn<bool>("goneBack");
        const char* names[] = {"导入日历", "添加音乐", "替代音乐", "编辑事件"};
        for (int dialog = 0; dialog < 4; ++dialog) {
            for (int row = 0; row < 4; ++row) {
                QTest::addRow("%s, %s, %s", names[dialog], row % 2 ? "list" : "details",
                              row / 2 ? "gone back to" : "starting in")
                    << dialog << (row % 2 ? QFileDialog::List : QFileDialog::Detail)
                    << bool(row / 2);
            }
        }
    }

    void noDialogOpensTheStoresFiles() {
        QFETCH(int, dialog);
        QFETCH(QFileDialog::ViewMode, view);
        QFETCH(bool, goneBack);
        ProgramVars vars;
        FakePlayer player;
        SettingsState state;
        Conn& conn = *store_->conn;
        SettingsContext ctx{vars, conn, player, state};
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        for (const QString s : {"", "-wal", "-shm"}) {
            inotify_add_watch(watch, QFile::encodeName(store_->path + s).constData(), IN_OPEN);
        }
        Drive(view, goneBack ? QStringList{elsewhere_.path(), store_->dir.path()} : QStringList());
        const std::function<void()> open[] = {
            [&] { SpecialDaysPage(ctx).ChooseIcsFile(); },
            [&] { MusicPage(ctx, nullptr).ChooseFiles(nullptr); },
            [&] { ReplacePage(ctx, nullptr).ChooseFile(nullptr); },
            [&] { ModifyEvent(vars, conn, player, "星期一", 0).ChooseMusic(); }};
        open[dialog]();
        char event[4096];
        QCOMPARE(read(watch, event, sizeof event), ssize_t(-1)); // no open to read
        close(watch);
        QVERIFY(conn.HoldsLocks());
    }

    // The dialogs open where the last file was chosen, as the store remembers it (also
    // after a restart), and offer what GStreamer plays here.
    void dialogsOpenInTheFolderTheStoreRemembers() {
        QVERIFY(store_->conn->SetLastFolder(elsewhere_.path()));
        QString opened, filter;
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [&, timer] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                opened = d->directory().absolutePath();
                filter = d->nameFilters().first();
                timer->deleteLater();
                d->reject();
            }
        });
        timer->start(20);
        ChooseOpenFiles(nullptr, "选择文件", MusicFileFilter(), *store_->conn);
        QCOMPARE(opened, elsewhere_.path());
        QVERIFY(filter.contains("*.opus") && filter.contains("*.m4a") && filter.contains("*.oga"));
        QString folder;
        QVERIFY(store_->conn->LastFolder(&folder));
        QCOMPARE(folder, elsewhere_.path()); // a cancelled dialog leaves it
    }
};

QTEST_MAIN(TestDialogLocks)
#include "test_dialog_locks.moc"
