#include "windows/settings/setting_form.h"

#include "widgets/art.h"
#include "widgets/my_button.h"

#include <QLabel>

SettingForm::SettingForm(ProgramVars&, Conn&, Player&, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SettingForm"));
    setWindowTitle(QStringLiteral("详细设置"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    setFixedSize(Px(11235), Px(5775));
    skin_ =
        Skin::Build(this, QRect(0, 0, 11235, 495), QPoint(600, 240), QRect(10635, 195, 300, 255));
    skin_.yButton_Close->setObjectName(QStringLiteral("MyButton_Close"));
    connect(skin_.yButton_Close, &MyButton::Click, this, &QDialog::reject);
    auto* note = new QLabel(
        QStringLiteral("设置页面尚未完成。关闭本窗口后，主窗口会重新读取今天的作息表。"), this);
    note->setObjectName(QStringLiteral("Lab_Placeholder"));
    note->setWordWrap(true);
    note->setGeometry(Px(1200), Px(2400), Px(8800), Px(900));
    skin_.Preamble(this);
}
