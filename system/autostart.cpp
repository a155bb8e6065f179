// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

const QString kEntryName = QStringLiteral("Belvoran.desktop");

std::filesystem::path FsPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString Reason(const std::error_code& ec) {
    return QString::fromLocal8Bit(ec.message().c_str());
}

} // namespace

XdgAutostart::XdgAutostart(QString program, QStringList arguments)
    : program_(std::move(program)), arguments_(std::move(arguments)) {}

QString XdgAutostart::Folder() {
    // The base-directory rules say a relative value is invalid and must be ignored.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base = QDir::isAbsolutePath(config) ? config : QDir::homePath() + "/.config";
    return QDir::cleanPath(base + QStringLiteral("/autostart"));
}

QString XdgAutostart::EntryPath() {
    return Folder() + '/' + kEntryName;
}

QString XdgAutostart::EntryText() const {
    QStringList argv{program_};
    argv += arguments_;
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Belvoran\n"
                          "Comment=School bells, announcements and break music\n"
                          "Exec=%1\n"
                          "Icon=belvoran\n"
                          "Terminal=false\n")
        .arg(DesktopExecValue(argv));
}

bool XdgAutostart::Add(QString* error) {
    const QString path = EntryPath();
    const auto fail = [&](const QString& reason) {
        if (error) {
            *error = QStringLiteral("无法写入开机自动运行项 %1：%2").arg(path, reason);
        }
        return false;
    };
    std::error_code ec;
    std::filesystem::create_directories(FsPath(Folder()), ec);
    if (ec) {
        return fail(Reason(ec));
    }
    // QSaveFile writes a temporary file beside the entry and renames it over the entry on
    // commit, so a session never reads half a file; it never falls back to writing in place.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return fail(file.errorString());
    }
    const QByteArray bytes = EntryText().toUtf8();
    if (file.write(bytes) != bytes.size()) {
        return fail(file.errorString());
    }
    if (!file.commit()) {
        return fail(file.errorString());
    }
    return true;
}

bool XdgAutostart::Remove(QString* error) {
    const QString path = EntryPath();
    std::error_code ec;
    std::filesystem::remove(FsPath(path), ec);
    if (ec) {
        if (error) {
            *error = QStringLiteral("无法删除开机自动运行项 %1：%2").arg(path, Reason(ec));
        }
        return false;
    }
    return true;
}

bool XdgAutostart::IsPresent() const {
    return QFileInfo::exists(EntryPath());
}

QString XdgAutostart::UninstalledProgram() const {
    return QStandardPaths::findExecutable(QStringLiteral("belvoran")) == program_ ? QString()
                                                                                  : program_;
}

QString AutostartProgram(const QString& running) {
    const QString installed = QStandardPaths::findExecutable(QStringLiteral("belvoran"));
    return installed.isEmpty() ? running : installed;
}

QStringList StartArguments(const QString& database, const QString& defaultDatabase) {
    const QString db = QFileInfo(database).absoluteFilePath();
    if (database.isEmpty() || db == QFileInfo(defaultDatabase).absoluteFilePath()) {
        return {};
    }
    return {QStringLiteral("--database"), db};
}

QString DesktopExecArgument(const QString& arg) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = arg.isEmpty();
    for (QChar c : arg) {
        if (reserved.contains(c) || c == '\r') {
            quote = true;
            break;
        }
    }
    QString out;
    if (quote) {
        out += '"';
        for (QChar c : arg) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') {
                out += '\\';
            }
            out += c;
        }
        out += '"';
    } else {
        out = arg;
    }
    // A lone "%" would start a field code that the launcher expands.
    out.replace('%', QStringLiteral("%%"));
    return out;
}

QString DesktopExecValue(const QStringList& argv) {
    QStringList parts;
    for (const QString& a : argv) {
        parts << DesktopExecArgument(a);
    }
    const QString joined = parts.join(' ');
    // The string-value escapes, applied after the quoting (readers undo them first).
    QString out;
    for (QChar c : joined) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}
