// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/message_box.h"
#include "widgets/ui_font.h"

#include "core/phrase_lines.h"
#include "core/play_log.h"
#include "widgets/art.h"
#include "widgets/my_button.h"
#include "widgets/round_form.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace {

const QString kCountdownText = QStringLiteral(" 秒后将关闭计算机!");
// The client area as designed: 4470 × 2085 twips.
constexpr int kClientW = 4470, kClientH = 2085;

} // namespace

MessageBox::MessageBox(MsgBlock& msg, PowerOffRequest powerOff, QWidget* parent)
    : QDialog(parent), msg_(msg), powerOff_(std::move(powerOff)) {
    setObjectName(QStringLiteral("MessageBox"));
    setWindowTitle(QStringLiteral("确认"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setModal(true);
    setFixedSize(Px(kClientW), Px(kClientH));
    QFont f(UiFontFamily());
    f.setPointSize(9);
    setFont(f);

    skin_ = Skin::Build(this, QRect(0, 0, 6495, 495), QPoint(600, 240), QRect(3600, 195, 300, 255));

    BuildControls();
    Wire();
    onPoweredOff = [] { QCoreApplication::exit(0); };
    Load();
}

void MessageBox::BuildControls() {
    face_ = new QLabel(this);
    face_->setObjectName(QStringLiteral("Image1"));
    face_->setGeometry(Px(480), Px(720), Px(585), Px(585));
    face_->setPixmap(Art(QStringLiteral("face"), face_->size()));

    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("Label1"));
    text_->setGeometry(Px(1200), Px(840), Px(2580), Px(540));
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    okButton_ = MyButton::Create(this, QStringLiteral("MyButton1"), QRect(1208, 1560, 975, 375),
                                 QStringLiteral("确定"), 2);
    cancelButton_ = MyButton::Create(this, QStringLiteral("MyButton2"), QRect(2288, 1560, 975, 375),
                                     QStringLiteral("取消"), 1);

    countdown_ = new QTimer(this);
    countdown_->setObjectName(QStringLiteral("Timer1"));
    countdown_->setInterval(1000);
}

void MessageBox::Wire() {
    connect(okButton_, &MyButton::Click, this, &MessageBox::Confirm);
    connect(cancelButton_, &MyButton::Click, this, &QDialog::reject);
    connect(skin_.yButton_Close, &MyButton::Click, this, &QDialog::reject);
    connect(countdown_, &QTimer::timeout, this, &MessageBox::CountdownStep);
}

// The box's load sequence: title, text and buttons by mode; the countdown starts here.
void MessageBox::Load() {
    skin_.Preamble(this);
    skin_.Lab_FormTitle->setText(msg_.MsgTitle);
    skin_.Lab_FormTitle->adjustSize();
    SetText(msg_.MsgText);
    msg_.MsgResult = false;
    if (msg_.MsgMode == MsgMode::Notice) {
        cancelButton_->hide();
        const int outerWidth = width() + 2 * 3; // the designed frame, 3 px a side
        okButton_->move(outerWidth / 2 - okButton_->width() / 2, okButton_->y());
    }
    if (msg_.MsgMode == MsgMode::Shutdown) {
        secondsLeft_ = 5;
        countdown_->start();
        SetText(QString::number(secondsLeft_) + kCountdownText);
        // Both buttons stop the countdown, 确定 (the one Enter presses) too: said, since
        // 确定 reads as agreeing to the shutdown.
        auto* hint = new QLabel(QStringLiteral("按任一按钮即取消关机"), this);
        hint->setObjectName(QStringLiteral("Lab_ShutdownHint"));
        hint->setGeometry(text_->x(), text_->y() + text_->height() / 2, text_->width(),
                          text_->height() / 2);
        hint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        hint->setStyleSheet(QStringLiteral("color: rgb(90, 90, 110);"));
        hint->show();
    }
    QApplication::beep();
}

void MessageBox::SetText(const QString& text) {
    // Lines break between phrases: the label's own wrapping would cut 星期三 or 确定 in two.
    const QFontMetrics fm = text_->fontMetrics();
    text_->setText(PhraseLines(text, text_->contentsRect().width() - 1, [&](const QString& line) {
                       return fm.horizontalAdvance(line);
                   }).join(QLatin1Char('\n')));
    // The box grows downwards to show the whole text, never below its designed size.
    const int grow = std::max(0, text_->heightForWidth(text_->width()) - text_->height());
    if (grow == 0) {
        return;
    }
    text_->resize(text_->width(), text_->height() + grow);
    for (QWidget* button :
         {static_cast<QWidget*>(okButton_), static_cast<QWidget*>(cancelButton_)}) {
        button->move(button->x(), button->y() + grow);
    }
    setFixedSize(width(), height() + grow);
    skin_.StretchBackground(this);
    MakeRoundForm(this);
}

void MessageBox::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Enter confirms: OK has the focus, unless the question says otherwise.
    (cancelByDefault ? cancelButton_ : okButton_)->setFocus(Qt::ActiveWindowFocusReason);
}

void MessageBox::done(int result) {
    countdown_->stop(); // any way of closing cancels the countdown
    QDialog::done(result);
}

void MessageBox::Confirm() {
    msg_.MsgResult = true;
    accept();
}

void MessageBox::CountdownStep() {
    secondsLeft_ -= 1;
    SetText(QString::number(secondsLeft_) + kCountdownText);
    if (secondsLeft_ > 0) {
        return;
    }
    countdown_->stop();
    QString reason = QStringLiteral("没有可用的关机方式");
    if (powerOff_ && powerOff_(&reason)) {
        PlayLog(QStringLiteral("power-off requested; the program ends"));
        poweredOff_ = true;
        accept();
        if (onPoweredOff) {
            onPoweredOff();
        }
        return;
    }
    // Refused or unreachable: say so and keep running, so the bells keep ringing.
    PlayLog(QStringLiteral("error power-off failed: %1").arg(reason));
    SetText(QStringLiteral("无法关闭计算机：%1").arg(reason));
    cancelButton_->hide();
    QTimer::singleShot(kRefusalNoticeSeconds * 1000, this, &QDialog::reject);
}

bool ShowMessage(QWidget* parent, const QString& title, const QString& text, MsgMode mode) {
    MsgBlock msg{title, text, mode, false};
    MessageBox box(msg, nullptr, parent);
    box.exec();
    return msg.MsgResult;
}
