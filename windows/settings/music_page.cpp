// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/music_page.h"

#include "audio/length_meter.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "store/config_loader.h"
#include "widgets/art.h"
#include "widgets/file_chooser.h"
#include "widgets/my_button.h"
#include "windows/editor/store_file_dialog.h"
#include "windows/settings/settings_grid.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>

namespace {

const QString kTitle = QStringLiteral("温馨提示");
const QString kLibraryPrefix = QStringLiteral("曲库_");
// The songs' columns in table order: id and library hidden. The length column is wide enough
// for "hh:mm:ss" in the program's font (900 twips cut it off).
const QVector<int> kWidths = {0, 0, 4650, 1250};

} // namespace

MusicPage::MusicPage(SettingsContext& ctx, QWidget* parent) : SettingsPage(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frame(1)"));

    libraryNameText_ = new QLineEdit(QStringLiteral("新曲库名"), this);
    libraryNameText_->setObjectName(QStringLiteral("Text1"));
    libraryNameText_->setGeometry(Px(QRect(120, 600, 1575, 270)));
    libraryNameText_->setAccessibleName(QStringLiteral("新曲库名"));

    addLibraryButton_ = MyButton::Create(this, QStringLiteral("MyBt_AddGroup"),
                                         QRect(960, 960, 255, 255), QStringLiteral("＋"));
    deleteLibraryButton_ = MyButton::Create(this, QStringLiteral("MyButton3"),
                                            QRect(1320, 960, 255, 255), QStringLiteral("－"));
    addLibraryButton_->setAccessibleName(QStringLiteral("添加曲库"));
    deleteLibraryButton_->setAccessibleName(QStringLiteral("删除曲库"));
    connect(addLibraryButton_, &MyButton::Click, this, &MusicPage::AddLibrary);
    connect(deleteLibraryButton_, &MyButton::Click, this, &MusicPage::DeleteLibrary);

    libraryList_ = new QListWidget(this);
    libraryList_->setObjectName(QStringLiteral("List1"));
    libraryList_->setGeometry(Px(QRect(120, 1320, 1575, 1320)));
    libraryList_->setAccessibleName(QStringLiteral("曲库"));
    // A long library name wraps inside the narrow list rather than running past its edge.
    libraryList_->setWordWrap(true);
    libraryList_->setResizeMode(QListView::Adjust);
    libraryList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // On selection, not on the current row: a mouse press makes the row current before it
    // selects it, and the songs shown are those of the selected library.
    connect(libraryList_, &QListWidget::itemSelectionChanged, this, &MusicPage::ShowLibrarySongs);

    songGrid_ = new FlexGrid(QStringLiteral("MSHFlexGrid2"), this);
    songGrid_->setGeometry(Px(QRect(1800, 240, 6135, 3495)));
    songGrid_->SetColumnWidths(kWidths);
    songGrid_->setAccessibleName(QStringLiteral("曲库中的歌曲"));
    songGrid_->Ask = [this](const QString& title, const QString& text, MsgMode mode) {
        return Ask(title, text, mode);
    };
    connect(songGrid_, &FlexGrid::DeleteKeyReleased, this, &MusicPage::DeleteSongs);
    connect(songGrid_, &FlexGrid::Reloaded, this, &MusicPage::UpdateButtons);

    addSongsButton_ = MyButton::Create(this, QStringLiteral("Mybt_AddMusic"),
                                       QRect(6000, 3840, 615, 615), QStringLiteral("添加"));
    deleteSongsButton_ = MyButton::Create(this, QStringLiteral("Mybt_DelMusic"),
                                          QRect(6720, 3960, 495, 495), QStringLiteral("删除"), 1);
    addSongsButton_->setAccessibleName(QStringLiteral("添加歌曲"));
    deleteSongsButton_->setAccessibleName(QStringLiteral("删除歌曲"));
    addSongsButton_->SetEnabled(false);
    deleteSongsButton_->SetEnabled(false);
    connect(addSongsButton_, &MyButton::Click, this, &MusicPage::AddSongs);
    connect(deleteSongsButton_, &MyButton::Click, this, &MusicPage::DeleteSongs);

    ChooseFiles = [this](QWidget* parent) {
        return ChooseOpenFiles(parent, QStringLiteral("选择文件"), MusicFileFilter(), ctx_.conn);
    };
    Ask = [this](const QString& title, const QString& text, MsgMode mode) {
        return ShowMessage(window(), title, text, mode);
    };
}

void MusicPage::Load() {
    const QSignalBlocker quiet(libraryList_);
    libraryList_->clear();
    addSongsButton_->SetEnabled(false);
    if (ctx_.vars.ClassMusicArr.isEmpty()) {
        ctx_.state.Sql(GridIndex::Music) = GridQuery::AllSongs();
        ReFleshGrid(songGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Music));
        return;
    }
    libraryList_->addItems(ctx_.vars.ClassMusicArr);
    libraryList_->setCurrentRow(0);
    ShowLibrarySongs();
}

QList<QWidget*> MusicPage::LiveWhileManaged() const {
    return {libraryList_};
}

QString MusicPage::SelectedLibrary() const {
    const QListWidgetItem* item = libraryList_->currentItem();
    return item && item->isSelected() ? item->text() : QString();
}

void MusicPage::ShowLibrarySongs() {
    const QString library = SelectedLibrary();
    if (library.isNull()) {
        return;
    }
    ctx_.state.Sql(GridIndex::Music) = GridQuery::LibrarySongs(library);
    addSongsButton_->SetEnabled(true);
    ReFleshGrid(songGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Music));
}

// Delete follows the grid's rows; add needs a library to add to.
void MusicPage::UpdateButtons(bool gridEmpty) {
    deleteSongsButton_->SetEnabled(!gridEmpty);
    if (gridEmpty && SelectedLibrary().isNull()) {
        addSongsButton_->SetEnabled(false);
    }
}

void MusicPage::ReloadLibraries() {
    QString error;
    if (!SetClassMusicArr(ctx_.vars, ctx_.conn, &error)) {
        Ask(kTitle, QStringLiteral("无法重新读取曲库列表：%1").arg(error), MsgMode::Notice);
    }
}

void MusicPage::AddLibrary() {
    if (libraryNameText_->text().trimmed().isEmpty()) {
        Ask(kTitle, QStringLiteral("请写一个合适的曲库名吧！?"), MsgMode::Notice);
        libraryNameText_->setFocus();
        return;
    }
    const QString name = kLibraryPrefix + libraryNameText_->text(); // blanks kept as typed
    for (int i = 0; i < libraryList_->count(); ++i) {
        if (libraryList_->item(i)->text() == name) {
            Ask(kTitle, QStringLiteral("该曲库名已经有了，换一个吧！"), MsgMode::Notice);
            libraryNameText_->setFocus();
            return;
        }
    }
    QString error;
    if (!ctx_.conn.CreateLibrary(name, &error)) {
        Ask(kTitle, QStringLiteral("没有建立曲库：%1").arg(error), MsgMode::Notice);
        libraryNameText_->setFocus();
        return;
    }
    libraryList_->addItem(name);
    ReloadLibraries();
    libraryList_->setCurrentRow(libraryList_->count() - 1); // shows the new, empty library
    addSongsButton_->SetEnabled(true);
}

void MusicPage::DeleteLibrary() {
    const QString library = SelectedLibrary();
    if (library.isNull()) {
        return;
    }
    if (!Ask(QStringLiteral("删除曲库"), QStringLiteral("真的要删除该曲库吗?"), MsgMode::Confirm)) {
        return;
    }
    QString error;
    if (!ctx_.conn.DeleteLibrary(library, &error)) {
        Ask(kTitle, QStringLiteral("没有删除曲库：%1").arg(error), MsgMode::Notice);
        return;
    }
    {
        const QSignalBlocker quiet(libraryList_);
        delete libraryList_->takeItem(libraryList_->currentRow());
        libraryList_->setCurrentRow(-1);
        libraryList_->clearSelection();
    }
    ReloadLibraries();
    // The grid must not go on showing the songs of a library that no longer exists, and
    // with no library selected there is nothing to add to.
    addSongsButton_->SetEnabled(false);
    ReFleshGrid(songGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Music));
}

bool MusicPage::MeasureWithProgress(const QStringList& files, QVector<double>* lengths) {
    QProgressDialog progress(QStringLiteral("正在读取音乐长度…"), QStringLiteral("取消"), 0,
                             files.size(), window());
    progress.setObjectName(QStringLiteral("Progress_AddMusic"));
    progress.setWindowTitle(QStringLiteral("添加音乐"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    return LengthMeter::MeasureAll(
        files, lengths,
        [&progress](int done, int) {
            progress.setValue(done);
            QApplication::processEvents(); // the window keeps painting and cancel works
        },
        [&progress] { return progress.wasCanceled(); });
}

void MusicPage::AddSongs() {
    const QString library = SelectedLibrary();
    if (library.isNull()) {
        return;
    }
    const QStringList files = ChooseFiles(window());
    if (files.isEmpty()) {
        return;
    }
    QVector<double> lengths;
    if (!MeasureWithProgress(files, &lengths)) {
        return; // cancelled: nothing is added
    }
    QVector<SongRow> songs;
    QStringList leftOut;
    for (int i = 0; i < files.size(); ++i) {
        if (lengths[i] < 0) {
            leftOut << QDir::toNativeSeparators(files[i]);
        } else {
            songs.push_back({0, library, files[i], LengthToTime(lengths[i])});
        }
    }
    QString error;
    if (!songs.isEmpty() && !ctx_.conn.AddSongs(library, songs, &error)) {
        Ask(kTitle, QStringLiteral("没有添加任何音乐：%1").arg(error), MsgMode::Notice);
        return;
    }
    ctx_.state.Sql(GridIndex::Music) = GridQuery::LibrarySongs(library);
    ReFleshGrid(songGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Music));
    if (!leftOut.isEmpty()) {
        Ask(kTitle,
            QStringLiteral("以下文件读不出音乐长度，没有添加：\n%1").arg(leftOut.join('\n')),
            MsgMode::Notice);
    }
}

void MusicPage::DeleteSongs() {
    DeleteGridRows(songGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Music));
}
