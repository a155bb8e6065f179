#include "widgets/file_chooser.h"

#include "store/conn.h"
#include "widgets/message_box.h"

#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPointer>

namespace {

// Icons and type names from the file name alone: nothing here opens a file.
class NameOnlyIconProvider : public QFileIconProvider {
public:
    using QFileIconProvider::icon;

    QIcon icon(const QFileInfo& info) const override {
        if (info.isRoot()) {
            return icon(Drive);
        }
        if (info.isDir()) {
            return icon(Folder);
        }
        const QMimeType mime = ByName(info);
        const QIcon themed = QIcon::fromTheme(mime.iconName());
        return themed.isNull() ? icon(File) : themed;
    }

    QString type(const QFileInfo& info) const override {
        if (!info.isFile()) {
            return QFileIconProvider::type(info);
        }
        const QMimeType mime = ByName(info);
        return mime.comment().isEmpty() ? mime.name() : mime.comment();
    }

private:
    static QMimeType ByName(const QFileInfo& info) {
        return QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    }
};

NameOnlyIconProvider* Provider() {
    static NameOnlyIconProvider provider;
    return &provider;
}

} // namespace

QFileDialog* NewOpenFileDialog(QWidget* parent, const QString& caption, const QString& filter) {
    auto* dialog = new QFileDialog(parent, caption, QString(), filter);
    // The desktop's own dialog would list the folder its own way; keep ours.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setIconProvider(Provider());
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    return dialog;
}

namespace {

QStringList Run(QWidget* parent, const QString& caption, const QString& filter,
                QFileDialog::FileMode mode, Conn& store) {
    QPointer<QFileDialog> dialog = NewOpenFileDialog(parent, caption, filter);
    dialog->setFileMode(mode);
    QStringList chosen;
    if (dialog->exec() == QDialog::Accepted && dialog) {
        chosen = dialog->selectedFiles();
    }
    delete dialog.data();
    QString error;
    if (!store.KeepLocks(&error)) {
        ShowMessage(parent, caption, error, MsgMode::Notice);
    }
    return chosen;
}

} // namespace

QString ChooseOpenFile(QWidget* parent, const QString& caption, const QString& filter,
                       Conn& store) {
    const QStringList files = Run(parent, caption, filter, QFileDialog::ExistingFile, store);
    return files.isEmpty() ? QString() : files.first();
}

QStringList ChooseOpenFiles(QWidget* parent, const QString& caption, const QString& filter,
                            Conn& store) {
    return Run(parent, caption, filter, QFileDialog::ExistingFiles, store);
}
