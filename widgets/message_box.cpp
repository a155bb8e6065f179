#include "widgets/message_box.h"
#include "widgets/ui_font.h"

#include "core/play_log.h"
#include "system/power_off.h"
#include "widgets/art.h"
#include "widgets/my_button.h"
#include "widgets/round_form.h"

#include <QApplication>
#include <QCoreApplication>
#include <algorithm>

namespace {

const QString kCountdownText = QStringLiteral(" 秒后将关闭计算机!");
// The client area as designed: 4470 × 2085 twips.
constexpr int kClientW = 4470, kClientH = 2085;

} // namespace

MessageBox::MessageBox(MsgBlock& msg, PowerOff* powerOff, QWidget* parent)
    : QDialog(parent), msg_(msg), powerOff_(powerOff) {
    setObjectName(QStringLiteral("MessageBox"));
    setWindowTitle(QStringLiteral("确认"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setModal(true);
    setFixedSize(Px(kClientW), Px(kClientH));
    QFont f(UiFontFamily());
    f.setPointSize(9);
    setFont(f);

    skin_ = Skin::Build(this, QRect(0, 0, 6495, 495), QPoint(600, 240), QRect(3600, 195, 300, 255));

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(Px(480), Px(720), Px(585), Px(585));
    Image1->setPixmap(Art(QStringLiteral("face"), Image1->size()));

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(Px(1200), Px(840), Px(2580), Px(540));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    MyButton1 = MyButton::Create(this, QStringLiteral("MyButton1"), QRect(1208, 1560, 975, 375),
                                 QStringLiteral("确定"), 2);
    MyButton2 = MyButton::Create(this, QStringLiteral("MyButton2"), QRect(2288, 1560, 975, 375),
                                 QStringLiteral("取消"), 1);

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(1000);

    connect(MyButton1, &MyButton::Click, this, &MessageBox::Confirm);
    connect(MyButton1, &MyButton::KeyPress, this, [this](int key) {
        if (key == 13) {
            Confirm();
        }
    });
    connect(MyButton2, &MyButton::Click, this, &QDialog::reject);
    connect(MyButton2, &MyButton::KeyPress, this, [this](int key) {
        if (key == 13) {
            reject();
        }
    });
    connect(skin_.yButton_Close, &MyButton::Click, this, &QDialog::reject);
    connect(&Timer1, &QTimer::timeout, this, &MessageBox::CountdownStep);
    onPoweredOff = [] { QCoreApplication::exit(0); };

    // The load sequence.
    skin_.Preamble(this);
    skin_.Lab_FormTitle->setText(msg_.MsgTitle);
    skin_.Lab_FormTitle->adjustSize();
    SetText(msg_.MsgText);
    msg_.MsgResult = false;
    if (msg_.MsgMode == MsgMode::Notice) {
        MyButton2->hide();
        const int outerWidth = width() + 2 * 3; // the designed frame, 3 px a side
        MyButton1->move(outerWidth / 2 - MyButton1->width() / 2, MyButton1->y());
    }
    if (msg_.MsgMode == MsgMode::Shutdown) {
        SecondsLeft = 5;
        Timer1.start();
        SetText(QString::number(SecondsLeft) + kCountdownText);
    }
    QApplication::beep();
}

void MessageBox::SetText(const QString& text) {
    Label1->setText(text);
    // The box grows downwards to show the whole text, never below its designed size.
    const int grow = std::max(0, Label1->heightForWidth(Label1->width()) - Label1->height());
    if (grow == 0) {
        return;
    }
    Label1->resize(Label1->width(), Label1->height() + grow);
    for (QWidget* button : {static_cast<QWidget*>(MyButton1), static_cast<QWidget*>(MyButton2)}) {
        button->move(button->x(), button->y() + grow);
    }
    setFixedSize(width(), height() + grow);
    skin_.StretchBackground(this);
    MakeRoundForm(this);
}

void MessageBox::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Enter confirms: OK has the focus, unless the question says otherwise.
    (cancelByDefault ? MyButton2 : MyButton1)->setFocus(Qt::ActiveWindowFocusReason);
}

void MessageBox::done(int result) {
    Timer1.stop(); // any way of closing cancels the countdown
    QDialog::done(result);
}

void MessageBox::Confirm() {
    msg_.MsgResult = true;
    accept();
}

void MessageBox::CountdownStep() {
    SecondsLeft -= 1;
    SetText(QString::number(SecondsLeft) + kCountdownText);
    if (SecondsLeft > 0) {
        return;
    }
    Timer1.stop();
    QString reason = QStringLiteral("没有可用的关机方式");
    if (powerOff_ && powerOff_->PowerOffNow(&reason)) {
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
    MyButton2->hide();
    QTimer::singleShot(kRefusalNoticeSeconds * 1000, this, &QDialog::reject);
}

bool ShowMessage(QWidget* parent, const QString& title, const QString& text, MsgMode mode) {
    MsgBlock msg{title, text, mode, false};
    MessageBox box(msg, nullptr, parent);
    box.exec();
    return msg.MsgResult;
}

namespace {

const char kKeepsScheduleRunning[] = "belvoranKeepsScheduleRunning";

} // namespace

bool KeepsScheduleRunning(const QWidget* window) {
    return window && window->property(kKeepsScheduleRunning).toBool();
}

void SetKeepsScheduleRunning(QWidget* window) {
    window->setProperty(kKeepsScheduleRunning, true);
}

void MessageBoxShutdownPrompt::OpenShutdownCountdown(std::function<void(bool)> closed) {
    msg_ = MsgBlock{QStringLiteral("关机提示"), QString(), MsgMode::Shutdown, false};
    box_ = new MessageBox(msg_, &powerOff_, parent_);
    box_->setProperty(kKeepsScheduleRunning, true);
    box_->setAttribute(Qt::WA_DeleteOnClose);
    // Not exec(): a nested wait here would hold up the tick that opened the box.
    box_->setWindowModality(Qt::NonModal);
    QObject::connect(box_, &QDialog::finished, box_, [box = box_.data(), closed] {
        if (closed) {
            closed(box->PoweredOff());
        }
    });
    box_->show();
    box_->raise();
    box_->activateWindow();
}
