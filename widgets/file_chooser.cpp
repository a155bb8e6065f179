#include "widgets/file_chooser.h"

#include "audio/formats.h"

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
    QString folder;
    if (store.LastFolder(&folder) && !folder.isEmpty() && QFileInfo(folder).isDir()) {
        dialog->setDirectory(folder);
    }
    QStringList chosen;
    if (dialog->exec() == QDialog::Accepted && dialog) {
        chosen = dialog->selectedFiles();
    }
    delete dialog.data();
    QString error;
    if (!store.KeepLocks(&error)) {
        ShowMessage(parent, caption, error, MsgMode::Notice);
    }
    if (!chosen.isEmpty()) {
        store.SetLastFolder(QFileInfo(chosen.first()).absolutePath()); // a convenience only
    }
    return chosen;
}

} // namespace

QString MusicFileFilter() {
    QString all = QStringLiteral("*.wav *.mp3 *.mid *.wma *.ogg *.flac");
    QString extra;
    for (const QString& e : ExtraSoundEndings()) {
        all += QStringLiteral(" *.") + e;
        extra += QStringLiteral(";;%1文件 (*.%2)").arg(e.toUpper(), e);
    }
    return QStringLiteral("所有音乐文件 (%1);;mp3文件 (*.mp3);;wma文件 (*.wma);;Wav文件 (*.wav);;"
                          "MID文件 (*.mid)%2")
        .arg(all, extra);
}

QString ChooseOpenFile(QWidget* parent, const QString& caption, const QString& filter,
                       Conn& store) {
    const QStringList files = Run(parent, caption, filter, QFileDialog::ExistingFile, store);
    return files.isEmpty() ? QString() : files.first();
}

QStringList ChooseOpenFiles(QWidget* parent, const QString& caption, const QString& filter,
                            Conn& store) {
    return Run(parent, caption, filter, QFileDialog::ExistingFiles, store);
}
