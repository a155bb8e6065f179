// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/replace_page.h"

#include "audio/length_meter.h"
#include "core/delete_question.h"
#include "core/program_vars.h"
#include "core/time_text.h"
#include "store/config_loader.h"
#include "widgets/art.h"
#include "widgets/file_chooser.h"
#include "widgets/my_button.h"
#include "windows/editor/store_file_dialog.h"
#include "windows/settings/settings_grid.h"

#include <QDir>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

namespace {

const QString kTitle = QStringLiteral("温馨提示");
// The replacements' columns in table order: id hidden. The length column is wide enough for
// "hh:mm:ss" in the program's font (850 twips cut it off).
const QVector<int> kWidths = {0, 1500, 4750, 1250};

} // namespace

ReplacePage::ReplacePage(SettingsContext& ctx, QWidget* parent) : SettingsPage(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frame(2)"));

    addFrame_ = new QGroupBox(QStringLiteral("添加雨天替代音乐"), this);
    addFrame_->setObjectName(QStringLiteral("Frame_ReplaceMusic"));
    addFrame_->setGeometry(Px(QRect(120, 240, 7760, 1320)));

    nameText_ = new QLineEdit(QStringLiteral("输入替代音乐名"), addFrame_);
    nameText_->setObjectName(QStringLiteral("Text_ReplaceName"));
    nameText_->setGeometry(Px(QRect(240, 360, 2100, 330)));
    nameText_->setAccessibleName(QStringLiteral("替代音乐名"));
    nameText_->installEventFilter(this);

    chooseFileButton_ =
        MyButton::Create(addFrame_, QStringLiteral("MyBt_ReplaceMusic"),
                         QRect(2520, 338, 1215, 375), QStringLiteral("浏览音乐"), 1);
    lengthLabel_ = new QLabel(QStringLiteral("音乐长度"), addFrame_);
    lengthLabel_->setObjectName(QStringLiteral("Lab_ReplaceMusicLength"));
    lengthLabel_->setGeometry(Px(QRect(3900, 375, 1200, 300)));
    addButton_ = MyButton::Create(addFrame_, QStringLiteral("MyBt_AddReplaceMusic"),
                                  QRect(6480, 338, 975, 375), QStringLiteral("添加"), 1);
    pathLabel_ = new QLabel(addFrame_);
    pathLabel_->setObjectName(QStringLiteral("Lab_ReplacePath"));
    pathLabel_->setGeometry(Px(QRect(240, 840, 7280, 300)));
    addButton_->setAccessibleName(QStringLiteral("添加替代音乐"));
    connect(chooseFileButton_, &MyButton::Click, this, &ReplacePage::ChooseReplacementFile);
    connect(addButton_, &MyButton::Click, this, &ReplacePage::AddReplacement);

    replaceGrid_ = new FlexGrid(QStringLiteral("MSHFlexGrid3"), this);
    replaceGrid_->setGeometry(Px(QRect(120, 1680, 7760, 2520)));
    replaceGrid_->SetColumnWidths(kWidths);
    replaceGrid_->setAccessibleName(QStringLiteral("雨天替代音乐"));
    replaceGrid_->Ask = [this](const QString& title, const QString& text, MsgMode mode) {
        return Ask(title, text, mode);
    };
    // The Delete key does all the button does, reference clean-up included.
    connect(replaceGrid_, &FlexGrid::DeleteKeyReleased, this, &ReplacePage::DeleteReplacements);

    deleteButton_ = MyButton::Create(this, QStringLiteral("MyBt_DelReplaceMusic"),
                                     QRect(6905, 4320, 975, 375), QStringLiteral("删除"), 1);
    deleteButton_->setAccessibleName(QStringLiteral("删除替代音乐"));
    connect(deleteButton_, &MyButton::Click, this, &ReplacePage::DeleteReplacements);
    connect(replaceGrid_, &FlexGrid::Reloaded, this,
            [this](bool empty) { deleteButton_->SetEnabled(!empty); });
    deleteButton_->SetEnabled(false);

    ChooseFile = [this](QWidget* parent) {
        return ChooseOpenFile(parent, QStringLiteral("选择文件"), MusicFileFilter(), ctx_.conn);
    };
    Ask = [this](const QString& title, const QString& text, MsgMode mode) {
        return ShowMessage(window(), title, text, mode);
    };
}

void ReplacePage::Load() {
    ctx_.state.Sql(GridIndex::Replace) = GridQuery::Replacements();
    ReFleshGrid(replaceGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Replace));
}

void ReplacePage::ReloadReplacements() {
    QString error;
    if (!SetReplaceMusicArr(ctx_.vars, ctx_.conn, &error)) {
        Ask(kTitle, QStringLiteral("无法重新读取替代音乐：%1").arg(error), MsgMode::Notice);
    }
}

void ReplacePage::ChooseReplacementFile() {
    const QString file = ChooseFile(window());
    if (file.isEmpty()) {
        return; // the labels keep the file chosen before and its length
    }
    const double seconds = LengthMeter::Measure(file);
    if (seconds < 0) {
        Ask(kTitle,
            QStringLiteral("读不出这个文件的音乐长度，请换一个文件：\n%1")
                .arg(QDir::toNativeSeparators(file)),
            MsgMode::Notice);
        return;
    }
    lengthLabel_->setText(LengthToTime(seconds));
    pathLabel_->setText(file);
}

void ReplacePage::AddReplacement() {
    if (pathLabel_->text().isEmpty()) {
        Ask(kTitle, QStringLiteral("请为该替代事件选择一个替代音乐吧！"), MsgMode::Notice);
        ChooseReplacementFile();
        if (pathLabel_->text().isEmpty()) {
            return;
        }
    }
    if (nameText_->text().trimmed().isEmpty()) {
        RequireReplacementName();
        return;
    }
    qint64 id = 0;
    QString error;
    if (!ctx_.conn.AddReplace(nameText_->text(), pathLabel_->text(), lengthLabel_->text(), &id,
                              &error)) {
        Ask(kTitle, QStringLiteral("没有添加替代音乐：%1").arg(error), MsgMode::Notice);
        return;
    }
    ReFleshGrid(replaceGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Replace));
    replaceGrid_->SelectId(id);
    ReloadReplacements();
    nameText_->setText(QStringLiteral("请输入替代音乐名"));
    pathLabel_->clear();
}

void ReplacePage::RequireReplacementName() {
    if (nameText_->text().trimmed().isEmpty()) {
        Ask(kTitle, QStringLiteral("请输入一个替代事件名称！"), MsgMode::Notice);
        nameText_->setFocus();
    }
}

bool ReplacePage::eventFilter(QObject* watched, QEvent* e) {
    if (watched == nameText_ && e->type() == QEvent::FocusOut) {
        // Only a move to another control counts, not the window losing the focus to a
        // dialog or another program.
        const Qt::FocusReason why = static_cast<QFocusEvent*>(e)->reason();
        if (why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason) {
            RequireReplacementName();
        }
    }
    return SettingsPage::eventFilter(watched, e);
}

void ReplacePage::DeleteReplacements() {
    const QVector<qint64> ids = replaceGrid_->SelectedIds();
    if (ids.isEmpty() || replaceGrid_->CurrentId() == 0) {
        return;
    }
    QStringList names;
    for (qint64 id : ids) {
        const GridModel& m = *replaceGrid_->Model();
        names << GridRowName(ctx_.state.Sql(GridIndex::Replace), m.Data(), m.RowOf(id));
    }
    if (!Ask(QStringLiteral("删除提示"), DeleteQuestion(names), MsgMode::Confirm)) {
        return;
    }
    QString error;
    if (!ctx_.conn.DeleteReplacements(ids, &error)) {
        Ask(QStringLiteral("删除失败"), QStringLiteral("没有删除任何记录：%1").arg(error),
            MsgMode::Notice);
        return;
    }
    ReFleshGrid(replaceGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Replace));
    ReloadReplacements();
}
