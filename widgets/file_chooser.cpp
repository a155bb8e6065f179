// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/file_chooser.h"

#include "audio/formats.h"

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

QStringList AskForFiles(QWidget* parent, const QString& caption, const QString& filter,
                        bool several, QString* folder) {
    QPointer<QFileDialog> dialog = NewOpenFileDialog(parent, caption, filter);
    dialog->setFileMode(several ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (!folder->isEmpty() && QFileInfo(*folder).isDir()) {
        dialog->setDirectory(*folder);
    }
    QStringList chosen;
    if (dialog->exec() == QDialog::Accepted && dialog) {
        chosen = dialog->selectedFiles();
    }
    delete dialog.data();
    if (!chosen.isEmpty()) {
        *folder = QFileInfo(chosen.first()).absolutePath();
    }
    return chosen;
}
