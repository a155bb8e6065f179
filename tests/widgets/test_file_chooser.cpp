#include "support/temp_store.h"
#include "widgets/file_chooser.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QSignalSpy>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether this process holds a POSIX lock on `path`, as the kernel lists it in /proc/locks
// ("1: POSIX  ADVISORY  READ 1234 fe:00:5678 128 128").
bool HoldsLock(const QString& path) {
    struct stat st {};
    if (stat(QFile::encodeName(path).constData(), &st) != 0) {
        return false;
    }
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QString pid = QString::number(getpid());
    const QString inode = QStringLiteral(":") + QString::number(st.st_ino);
    const QStringList lines = QString::fromLatin1(locks.readAll()).split('\n');
    for (const QString& line : lines) {
        const QStringList f = line.simplified().split(' ');
        if (f.size() >= 6 && f[1] == QLatin1String("POSIX") && f[4] == pid &&
            f[5].endsWith(inode)) {
            return true;
        }
    }
    return false;
}

// Every file listed, so that the test sees when the database files have been looked at.
const QString kFilter = QStringLiteral("所有文件 (*)");

} // namespace

class TestFileChooser : public QObject {
    Q_OBJECT

private slots:
    // Listing the folder that holds the open database must leave the database's locks in
    // place; before, the dialog read every listed file and so released them.
    void listingTheDatabaseFolderKeepsItsLocks() {
        TempStore store;
        const QString shm = store.path + QStringLiteral("-shm");
        QVERIFY(QFile::exists(shm));
        QVERIFY(HoldsLock(store.path));
        QVERIFY(HoldsLock(shm));

        std::unique_ptr<QFileDialog> dialog(
            NewOpenFileDialog(nullptr, QStringLiteral("t"), kFilter));
        auto* model = dialog->findChild<QFileSystemModel*>();
        QVERIFY(model);
        QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
        dialog->setDirectory(store.dir.path());
        dialog->show();
        QTRY_VERIFY(!loaded.isEmpty());
        // The type column is filled in for the database's files.
        QTRY_VERIFY(!model->data(model->index(store.path, 2)).toString().isEmpty());
        QTRY_VERIFY(!model->data(model->index(shm, 2)).toString().isEmpty());

        QVERIFY(HoldsLock(store.path));
        QVERIFY(HoldsLock(shm));
    }
};

QTEST_MAIN(TestFileChooser)
#include "test_file_chooser.moc"
