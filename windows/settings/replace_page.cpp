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

    Frame_ReplaceMusic = new QGroupBox(QStringLiteral("添加雨天替代音乐"), this);
    Frame_ReplaceMusic->setObjectName(QStringLiteral("Frame_ReplaceMusic"));
    Frame_ReplaceMusic->setGeometry(Px(QRect(120, 240, 7760, 1320)));

    Text_ReplaceName = new QLineEdit(QStringLiteral("输入替代音乐名"), Frame_ReplaceMusic);
    Text_ReplaceName->setObjectName(QStringLiteral("Text_ReplaceName"));
    Text_ReplaceName->setGeometry(Px(QRect(240, 360, 2100, 330)));
    Text_ReplaceName->installEventFilter(this);

    MyBt_ReplaceMusic =
        MyButton::Create(Frame_ReplaceMusic, QStringLiteral("MyBt_ReplaceMusic"),
                         QRect(2520, 338, 1215, 375), QStringLiteral("浏览音乐"), 1);
    Lab_ReplaceMusicLength = new QLabel(QStringLiteral("音乐长度"), Frame_ReplaceMusic);
    Lab_ReplaceMusicLength->setObjectName(QStringLiteral("Lab_ReplaceMusicLength"));
    Lab_ReplaceMusicLength->setGeometry(Px(QRect(3900, 375, 1200, 300)));
    MyBt_AddReplaceMusic =
        MyButton::Create(Frame_ReplaceMusic, QStringLiteral("MyBt_AddReplaceMusic"),
                         QRect(6480, 338, 975, 375), QStringLiteral("添加"), 1);
    Lab_ReplacePath = new QLabel(Frame_ReplaceMusic);
    Lab_ReplacePath->setObjectName(QStringLiteral("Lab_ReplacePath"));
    Lab_ReplacePath->setGeometry(Px(QRect(240, 840, 7280, 300)));
    connect(MyBt_ReplaceMusic, &MyButton::Click, this, &ReplacePage::ChooseReplacementFile);
    connect(MyBt_AddReplaceMusic, &MyButton::Click, this, &ReplacePage::AddReplacement);

    replaceGrid_ = new FlexGrid(QStringLiteral("MSHFlexGrid3"), this);
    replaceGrid_->setGeometry(Px(QRect(120, 1680, 7760, 2520)));
    replaceGrid_->SetColumnWidths(kWidths);
    replaceGrid_->Ask = [this](const QString& title, const QString& text, MsgMode mode) {
        return Ask(title, text, mode);
    };
    // The Delete key does all the button does, reference clean-up included.
    connect(replaceGrid_, &FlexGrid::DeleteKeyReleased, this, &ReplacePage::DeleteReplacements);

    MyBt_DelReplaceMusic = MyButton::Create(this, QStringLiteral("MyBt_DelReplaceMusic"),
                                            QRect(6905, 4320, 975, 375), QStringLiteral("删除"), 1);
    connect(MyBt_DelReplaceMusic, &MyButton::Click, this, &ReplacePage::DeleteReplacements);
    connect(replaceGrid_, &FlexGrid::Reloaded, this,
            [this](bool empty) { MyBt_DelReplaceMusic->SetEnabled(!empty); });
    MyBt_DelReplaceMusic->SetEnabled(false);

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
    Lab_ReplaceMusicLength->setText(LengthToTime(seconds));
    Lab_ReplacePath->setText(file);
}

void ReplacePage::AddReplacement() {
    if (Lab_ReplacePath->text().isEmpty()) {
        Ask(kTitle, QStringLiteral("请为该替代事件选择一个替代音乐吧！"), MsgMode::Notice);
        ChooseReplacementFile();
        if (Lab_ReplacePath->text().isEmpty()) {
            return;
        }
    }
    if (Text_ReplaceName->text().trimmed().isEmpty()) {
        RequireReplacementName();
        return;
    }
    qint64 id = 0;
    QString error;
    if (!ctx_.conn.AddReplace(Text_ReplaceName->text(), Lab_ReplacePath->text(),
                              Lab_ReplaceMusicLength->text(), &id, &error)) {
        Ask(kTitle, QStringLiteral("没有添加替代音乐：%1").arg(error), MsgMode::Notice);
        return;
    }
    ReFleshGrid(replaceGrid_, ctx_.conn, ctx_.state.Sql(GridIndex::Replace));
    replaceGrid_->SelectId(id);
    ReloadReplacements();
    Text_ReplaceName->setText(QStringLiteral("请输入替代音乐名"));
    Lab_ReplacePath->clear();
}

void ReplacePage::RequireReplacementName() {
    if (Text_ReplaceName->text().trimmed().isEmpty()) {
        Ask(kTitle, QStringLiteral("请输入一个替代事件名称！"), MsgMode::Notice);
        Text_ReplaceName->setFocus();
    }
}

bool ReplacePage::eventFilter(QObject* watched, QEvent* e) {
    if (watched == Text_ReplaceName && e->type() == QEvent::FocusOut) {
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
