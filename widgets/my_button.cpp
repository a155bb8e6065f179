// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/my_button.h"

#include "widgets/art.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

// Styles 1..kIconStyles draw the picture icon(style - 1) above the caption.
constexpr int kIconStyles = 7;

// Face strips, then hover overlays: Img_bk(0..6).
const char* const kFaces[] = {"bk0", "bk1", "bk2", "bk3", "bk4", "bk5", "bk6"};

QString FaceName(int index) {
    return QString::fromLatin1(kFaces[std::clamp(index, 0, 6)]);
}

} // namespace

MyButton::MyButton(QWidget* parent) : QAbstractButton(parent), caption_(new QLabel(this)) {
    caption_->setObjectName(QStringLiteral("Label1"));
    caption_->setText(QStringLiteral("Label1"));
    caption_->setAttribute(Qt::WA_TransparentForMouseEvents);
    caption_->setAutoFillBackground(false);
    // Until Enabled is written the caption keeps its initial colour, even on a button stored
    // as disabled. The colour is the skin's, never the desktop theme's: the faces are light.
    QPalette pal = caption_->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::WindowText, kCaptionEnabled);
    }
    caption_->setPalette(pal);
    caption_->adjustSize();
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::pressed, this, [this] { ShowPressed(true); });
    connect(this, &QAbstractButton::released, this, [this] { ShowPressed(false); });
    connect(this, &QAbstractButton::clicked, this, &MyButton::Click);
    hoverTimer_.setObjectName(QStringLiteral("Timer1"));
    hoverTimer_.setInterval(150);
    connect(&hoverTimer_, &QTimer::timeout, this, &MyButton::OnTimer);
    hoverTimer_.start(); // its first tick ends a hover that never began
}

MyButton* MyButton::Create(QWidget* parent, const QString& objectName, const QRect& twips,
                           const QString& caption, int overColor, int style) {
    auto* b = new MyButton(parent);
    b->setObjectName(objectName);
    b->setGeometry(Px(twips));
    b->SetBtCaption(caption);
    b->SetOverColor(overColor);
    if (style != 0) {
        b->SetStyle(style);
    }
    return b;
}

void MyButton::SetBtCaption(const QString& caption) {
    caption_->setText(caption);
    caption_->adjustSize();
    setAccessibleName(caption);
    DrawButton(style_);
}

void MyButton::SetLocked(bool locked) {
    if (locked && !locked_) {
        enabledWhenUnlocked_ = !testAttribute(Qt::WA_ForceDisabled);
    }
    locked_ = locked;
    ShowEnabled();
}

void MyButton::SetEnabled(bool on) {
    enabledWhenUnlocked_ = on;
    ShowEnabled();
}

void MyButton::ShowEnabled() {
    setEnabled(enabledWhenUnlocked_ && !locked_);
    DrawButton(style_);
    ChangeEnabledColor();
}

void MyButton::SetStyle(int style) {
    style_ = style;
    DrawButton(style_ & 0xFF);
    DrawButton(style_);
}

void MyButton::SetOverColor(int overColor) {
    overColor_ = std::clamp(overColor, 0, 4);
    DrawButton(style_);
}

void MyButton::SelBackColor(int Index) {
    face_ = Index > 0 ? std::clamp(Index + 2, 0, 6) : 0;
    update();
}

void MyButton::ChangeEnabledColor() {
    QPalette pal = caption_->palette();
    pal.setColor(QPalette::WindowText, isEnabled() ? kCaptionEnabled : kCaptionDisabled);
    pal.setColor(QPalette::Disabled, QPalette::WindowText,
                 isEnabled() ? kCaptionEnabled : kCaptionDisabled);
    caption_->setPalette(pal);
}

QColor MyButton::CaptionColor() const {
    return caption_->palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                     QPalette::WindowText);
}

void MyButton::ReadProperties(const QVariantMap& bag) {
    // Assigned directly, as a stored layout is: the caption colour follows only when
    // Enabled is next written.
    caption_->setText(bag.value(QStringLiteral("BtCaption"), QString()).toString());
    caption_->adjustSize();
    setAccessibleName(caption_->text());
    setEnabled(bag.value(QStringLiteral("Enabled"), true).toBool());
    style_ = bag.value(QStringLiteral("Style"), 0).toInt();
    overColor_ = bag.value(QStringLiteral("OverColor"), 0).toInt();
    DrawButton(style_);
}

QVariantMap MyButton::WriteProperties() const {
    QVariantMap bag;
    if (!BtCaption().isEmpty()) {
        bag.insert(QStringLiteral("BtCaption"), BtCaption());
    }
    if (!isEnabled()) {
        bag.insert(QStringLiteral("Enabled"), false);
    }
    if (style_ != 0) {
        bag.insert(QStringLiteral("Style"), style_);
    }
    if (overColor_ != 0) {
        bag.insert(QStringLiteral("OverColor"), overColor_);
    }
    return bag;
}

void MyButton::DrawButton(int style) {
    const double W = width() * kTwipsPerPixel;
    const double H = height() * kTwipsPerPixel;
    layout_ = DrawButtonLayout(W, H, caption_->width() * kTwipsPerPixel,
                               caption_->height() * kTwipsPerPixel, style, borderWidth_);
    ImgMove = QRectF();
    face_ = 0;
    borderWidth_ = layout_.borderWidth;
    borderColor_ = kBorderNormal;
    caption_->move(qRound(layout_.label.x() / kTwipsPerPixel),
                   qRound(layout_.label.y() / kTwipsPerPixel));
    update();
}

void MyButton::resizeEvent(QResizeEvent*) {
    DrawButton(style_);
}

void MyButton::changeEvent(QEvent* e) {
    QAbstractButton::changeEvent(e);
    if (e->type() == QEvent::FontChange) {
        caption_->adjustSize();
        DrawButton(style_);
    }
}

void MyButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF all(0, 0, width(), height());
    const qreal radius = std::min(6.0, height() / 4.0);
    QPainterPath shape;
    shape.addRoundedRect(all.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    p.save();
    p.setClipPath(shape);
    p.drawPixmap(all, Art(FaceName(face_), size()), QRectF());
    if (overlayShown_ && !ImgMove.isEmpty()) {
        p.drawPixmap(ImgMove, Art(FaceName(overColor_ + 2), ImgMove.size().toSize()), QRectF());
    }
    p.restore();
    if (layout_.iconVisible && style_ >= 1 && style_ <= kIconStyles) {
        const QRectF icon(layout_.icon.x() / kTwipsPerPixel, layout_.icon.y() / kTwipsPerPixel,
                          layout_.icon.width() / kTwipsPerPixel,
                          layout_.icon.height() / kTwipsPerPixel);
        p.drawPixmap(icon, Art(QStringLiteral("icon%1").arg(style_ - 1), icon.size().toSize()),
                     QRectF());
    }
    QPen pen(borderColor_, borderWidth_);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const qreal half = borderWidth_ / 2.0;
    p.drawRoundedRect(all.adjusted(half, half, -half, -half), radius, radius);
    if (hasFocus()) {
        // Close inside the border, so it shows on the smallest buttons too.
        const qreal inset = borderWidth_ + 1.5;
        p.setPen(QPen(kFocusFrame, 1, Qt::DashLine));
        p.drawRoundedRect(all.adjusted(inset, inset, -inset, -inset), radius, radius);
    }
}

void MyButton::mouseMoveEvent(QMouseEvent* e) {
    QAbstractButton::mouseMoveEvent(e); // a held button follows the pointer in and out
    if (MouseSeen) {
        return;
    }
    MouseSeen = true;
    borderColor_ = kBorderHover;
    hoverTimer_.start();
    HoverOn();
}

void MyButton::HoverOn() {
    // The overlay sits 20 twips inside every edge.
    const double inset = 20.0 / kTwipsPerPixel;
    ImgMove = QRectF(inset, inset, width() - 2 * inset, height() - 2 * inset);
    update();
}

void MyButton::HoverOff() {
    hoverTimer_.stop();
    ImgMove = QRectF();
    borderColor_ = kBorderNormal;
    update();
}

void MyButton::OnTimer() {
    if (MouseSeen) {
        MouseSeen = false;
    } else {
        HoverOff();
    }
}

void MyButton::ShowPressed(bool down) {
    face_ = down ? 1 : 0;
    overlayShown_ = !down;
    update();
}

bool MyButton::IsReturnKey(const QKeyEvent* e) {
    return (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) &&
           (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

void MyButton::PassAsSpace(QKeyEvent* e) {
    QKeyEvent space(e->type(), Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "),
                    e->isAutoRepeat());
    if (e->type() == QEvent::KeyPress) {
        QAbstractButton::keyPressEvent(&space);
    } else {
        QAbstractButton::keyReleaseEvent(&space);
    }
    e->setAccepted(space.isAccepted());
}

void MyButton::keyPressEvent(QKeyEvent* e) {
    // Enter and Return press a focused button as the space bar does: the face goes down
    // now and the click comes when the key is let go.
    if (IsReturnKey(e)) {
        returnHeld_ = returnHeld_ || !e->isAutoRepeat();
        PassAsSpace(e);
        return;
    }
    if (e->key() == Qt::Key_Space || e->key() == Qt::Key_Select) {
        QAbstractButton::keyPressEvent(e);
        return;
    }
    if (!e->text().isEmpty()) {
        emit KeyPress(e->text().at(0).unicode());
        // Escape still reaches the window, which a dialog closes by.
        e->setAccepted(e->key() != Qt::Key_Escape);
        return;
    }
    QAbstractButton::keyPressEvent(e);
}

void MyButton::keyReleaseEvent(QKeyEvent* e) {
    if (returnHeld_ && IsReturnKey(e) && !e->isAutoRepeat()) {
        returnHeld_ = false;
        PassAsSpace(e);
        return;
    }
    QAbstractButton::keyReleaseEvent(e);
}
