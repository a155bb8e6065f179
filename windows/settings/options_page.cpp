// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/settings/options_page.h"

#include "core/enums.h"
#include "core/time_text.h"
#include "store/config_loader.h"
#include "store/conn.h"
#include "system/autostart.h"
#include "widgets/art.h"
#include "widgets/message_box.h"
#include "widgets/my_button.h"
#include "widgets/skin.h"
#include "widgets/text_time_box.h"
#include "windows/settings/settings_context.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTime>

namespace {

template <typename W> W* Place(QWidget* parent, const QString& name, const QRect& twips) {
    auto* w = new W(parent);
    w->setObjectName(name);
    w->setGeometry(Px(twips));
    return w;
}

QCheckBox* Check(QWidget* parent, const QString& name, const QRect& twips, const QString& text) {
    auto* box = Place<QCheckBox>(parent, name, twips);
    box->setText(text);
    return box;
}

} // namespace

OptionsPage::OptionsPage(SettingsContext& ctx, QWidget* parent) : SettingsPage(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frame(3)"));
    Build();
    // The installed program (else this one), and this store when it is not the default one.
    sessionAutostart_ =
        std::make_unique<XdgAutostart>(AutostartProgram(QCoreApplication::applicationFilePath()),
                                       StartArguments(ctx_.conn.Path(), Conn::DefaultPath()));
    autostart_ = sessionAutostart_.get();
    Notify = [this](const QString& text) {
        ShowMessage(this, QStringLiteral("Belvoran"), text, MsgMode::Notice);
    };
    Ask = [this](const QString& text) {
        return ShowMessage(this, QStringLiteral("基本设置"), text, MsgMode::Confirm); // caption
    };
}

OptionsPage::~OptionsPage() = default;

void OptionsPage::SetAutostart(Autostart* autostart) {
    autostart_ = autostart;
}

void OptionsPage::Build() {
    // The settings window places the page at its page rectangle, 8000 x 4900 twips.
    resize(Px(8000), Px(4900));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(245, 245, 250));
    setPalette(pal);

    Frm_setplay = Place<QGroupBox>(this, QStringLiteral("Frm_setplay"), {240, 240, 7520, 1560});
    Frm_setplay->setTitle(QStringLiteral("播放设置"));
    Label_PlaySequence =
        Place<QLabel>(Frm_setplay, QStringLiteral("Label_PlaySequence"), {240, 450, 1900, 300});
    Label_PlaySequence->setText(QStringLiteral("课间音乐播放顺序："));
    const QString orders[3] = {QStringLiteral("顺序播放"), QStringLiteral("重复单曲"),
                               QStringLiteral("随机播放")};
    for (int i = 0; i < 3; ++i) {
        Option_PlaySequence[i] =
            Place<QRadioButton>(Frm_setplay, QStringLiteral("Option_PlaySequence(%1)").arg(i),
                                {2200 + i * 1500, 450, 1400, 300});
        Option_PlaySequence[i]->setText(orders[i]);
    }
    Check_Replace = Check(Frm_setplay, QStringLiteral("Check_Replace"), {240, 960, 6500, 300},
                          QStringLiteral("启动软件时记忆“正常/雨天”音乐模式"));

    Frm_FinishSet =
        Place<QGroupBox>(this, QStringLiteral("Frm_FinishSet"), {240, 1980, 7520, 2040});
    Frm_FinishSet->setTitle(QStringLiteral("开机/关机设置"));
    Check_StartEndSet = Check(Frm_FinishSet, QStringLiteral("Check_StartEndSet"),
                              {240, 420, 6500, 300}, QStringLiteral("开机后自动运行"));
    Check_TuoPang = Check(Frm_FinishSet, QStringLiteral("Check_TuoPang"), {240, 900, 6500, 300},
                          QStringLiteral("开启程序后直接最小化到系统托盘处"));
    Check_ShutDown = Check(Frm_FinishSet, QStringLiteral("Check_ShutDown"), {240, 1380, 1600, 300},
                           QStringLiteral("设定关机时间"));
    Text_ShutDownTime = Place<QLineEdit>(Frm_FinishSet, QStringLiteral("Text_ShutDownTime"),
                                         {1900, 1400, 900, 250});
    Text_ShutDownTime->setText(kNoShutdownTime);
    Text_ShutDownTime->setAccessibleName(QStringLiteral("关机时间")); // caption
    Text_ShutDownTime->setEnabled(false);
    connect(Check_ShutDown, &QCheckBox::toggled, this, &OptionsPage::EnableShutdownTime);

    MyBt_Apply = MyButton::Create(this, QStringLiteral("MyBt_Apply"), {6360, 4200, 1400, 450},
                                  QStringLiteral("应用"));
    connect(MyBt_Apply, &MyButton::Click, this, &OptionsPage::Save);
    Lab_Applied = Place<QLabel>(this, QStringLiteral("Lab_Applied"), {3600, 4275, 2600, 300});
    Lab_Applied->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    FlatFrames(this, pal.color(QPalette::Window));
}

void OptionsPage::Load() {
    loaded_ = true;
    if (!ShutDownTimeBox) {
        ShutDownTimeBox = std::make_unique<Text_TimeBox>();
    }
    ShutDownTimeBox->Attach(Text_ShutDownTime);

    ConfigRow row;
    QString error;
    if (!ctx_.conn.ReadConfig(&row, &error)) {
        EnableShutdownTime();
        Notify(QStringLiteral("无法读取设置：%1").arg(error));
        return;
    }
    Option_PlaySequence[static_cast<int>(row.playOrder)]->setChecked(true);
    if (row.rememberRain) {
        Check_Replace->setChecked(true);
    }
    Check_StartEndSet->setChecked(row.startWithSystem);
    if (row.minToTray) {
        Check_TuoPang->setChecked(true);
    }
    if (row.shutDownTime != kNoShutdownTime) {
        Check_ShutDown->setChecked(true);
        Text_ShutDownTime->setText(row.shutDownTime);
    }
    // A shutdown box left ticked from before keeps its time box editable.
    EnableShutdownTime();
}

void OptionsPage::EnableShutdownTime() {
    Text_ShutDownTime->setEnabled(Check_ShutDown->isChecked());
}

bool OptionsPage::Save() {
    ConfigRow options;
    if (!SaveOptions(&options)) {
        return false;
    }
    Lab_Applied->setText(
        QStringLiteral("已应用 %1").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
    if (UpdateAutostart()) {
        return true;
    }
    // The store says what the desktop will do: without its entry the program does not start
    // with it, whatever the box said.
    const bool present = autostart_->IsPresent();
    Check_StartEndSet->setChecked(present);
    if (present != options.startWithSystem) {
        options.startWithSystem = present;
        QString error;
        if (!ctx_.conn.WriteOptions(options, &error)) {
            Notify(QStringLiteral("无法保存设置：%1").arg(error));
        }
    }
    return true;
}

ConfigRow OptionsPage::Shown() const {
    ConfigRow options;
    for (int i = 0; i < 3; ++i) {
        if (Option_PlaySequence[i]->isChecked()) {
            options.playOrder = static_cast<PlayOrder>(i);
        }
    }
    options.rememberRain = Check_Replace->isChecked();
    options.startWithSystem = Check_StartEndSet->isChecked();
    options.minToTray = Check_TuoPang->isChecked();
    options.shutDownTime =
        Check_ShutDown->isChecked() ? Text_ShutDownTime->text() : QString(kNoShutdownTime);
    return options;
}

bool OptionsPage::Pending() const {
    ConfigRow stored;
    if (!loaded_ || !ctx_.conn.ReadConfig(&stored)) { // never shown: nothing changed
        return false; // nothing to compare with: nothing to ask about
    }
    const ConfigRow shown = Shown();
    return shown.playOrder != stored.playOrder || shown.rememberRain != stored.rememberRain ||
           shown.startWithSystem != stored.startWithSystem || shown.minToTray != stored.minToTray ||
           shown.shutDownTime != stored.shutDownTime;
}

bool OptionsPage::SettleBeforeClosing() {
    if (!Pending()) {
        return true;
    }
    if (!Ask(QStringLiteral("基本设置已修改，但还没有应用。要应用这些修改吗？"))) {
        Load(); // dropped: shown as stored, should the window stay
        return true;
    }
    ConfigRow options;
    if (!SaveOptions(&options)) {
        return false;
    }
    UpdateAutostart();
    return true;
}

bool OptionsPage::SaveOptions(ConfigRow* stored) {
    ConfigRow options = Shown();
    if (!Check_ShutDown->isChecked()) {
        Text_ShutDownTime->setText(kNoShutdownTime);
    }
    // Typing cannot make a wrong time, but a paste through the box's menu can, and the box
    // only checks it when the focus leaves it.
    if (!IsTimeText(Text_ShutDownTime->text())) {
        Notify(QStringLiteral("无效时间：%1").arg(Text_ShutDownTime->text()));
        return false;
    }
    options.shutDownTime = Text_ShutDownTime->text();

    QString error;
    if (!ctx_.conn.WriteOptions(options, &error)) {
        Notify(QStringLiteral("无法保存设置：%1").arg(error));
        return false;
    }
    ApplyStoredOptions(options, ctx_.vars);
    *stored = options;
    return true;
}

bool OptionsPage::UpdateAutostart() {
    QString error;
    const bool wanted = Check_StartEndSet->isChecked();
    if (wanted ? autostart_->Add(&error) : autostart_->Remove(&error)) {
        if (const QString program = autostart_->UninstalledProgram();
            wanted && !program.isEmpty()) {
            Notify(QStringLiteral("已设为开机后自动运行，但启动的是没有安装的程序 %1："
                                  "这个文件夹移动或删除后就不会再自动运行。安装后请重新应用一次。")
                       .arg(program));
        }
        return true;
    }
    Notify(QStringLiteral("其他设置已保存，但“开机后自动运行”没能%1：%2")
               .arg(wanted ? QStringLiteral("打开") : QStringLiteral("关闭"), error));
    return false;
}
