// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/skin.h"

#include "widgets/ui_font.h"

#include "widgets/art.h"
#include "widgets/fit_check.h"
#include "widgets/move_form.h"
#include "widgets/my_button.h"
#include "widgets/round_form.h"

#include <QGroupBox>
#include <QScreen>
#include <QWidget>

Skin Skin::Build(QWidget* window, const QRect& titleStrip, const QPoint& titleLabel,
                 const QRect& closeButton) {
    Skin s;
    s.background = new QLabel(window);
    s.background->setObjectName(QStringLiteral("Img"));
    s.background->setScaledContents(true);

    s.ImgTitle = new QLabel(window);
    s.ImgTitle->setObjectName(QStringLiteral("ImgTitle"));
    s.ImgTitle->setScaledContents(true);
    s.ImgTitle->setGeometry(Px(titleStrip));
    s.ImgTitle->setPixmap(Art(QStringLiteral("title"), s.ImgTitle->size()));

    s.Lab_FormTitle = new QLabel(window);
    s.Lab_FormTitle->setObjectName(QStringLiteral("Lab_FormTitle"));
    s.Lab_FormTitle->move(Px(titleLabel.x()), Px(titleLabel.y()));
    s.Lab_FormTitle->setStyleSheet(QStringLiteral("color: white; font-weight: bold;"));

    s.Img_FormTitle = new QWidget(window);
    s.Img_FormTitle->setObjectName(QStringLiteral("Img_FormTitle"));
    MakeDragHandle(s.Img_FormTitle, window);

    s.yButton_Close = MyButton::Create(window, QStringLiteral("yButton_Close"), closeButton,
                                       QStringLiteral("×"), 1);
    s.yButton_Close->setToolTip(QStringLiteral("退出本程序"));
    s.yButton_Close->setAccessibleName(QStringLiteral("关闭"));
    s.yButton_Close->setFocusPolicy(Qt::NoFocus);
    return s;
}

void Skin::Preamble(QWidget* window) {
    KeepSkinPalette(window);
    // Set on the window itself: a desktop theme that puts its own font on the application
    // after start (qt6ct, Plasma) would otherwise enlarge the captions past their buttons.
    window->setFont(UiFont());
    MakeRoundForm(window);
    StretchBackground(window);
    Img_FormTitle->setGeometry(0, 0, ImgTitle->width(), Px(500));
    Lab_FormTitle->setText(window->windowTitle());
    Lab_FormTitle->adjustSize();
    background->lower();
    WatchClipping(window);
}

void Skin::CloseInTabOrder(QWidget* first) {
    // Made before the other controls, the "×" is where Tab goes round from the last control
    // back to the first; the window opens on first, never on it.
    yButton_Close->setFocusPolicy(Qt::TabFocus);
    first->setFocus(Qt::OtherFocusReason);
}

void Skin::StretchBackground(QWidget* window) {
    background->setGeometry(0, 0, window->width(), window->height());
    background->setPixmap(Art(QStringLiteral("background"), window->size()));
}

QPalette SkinPalette() {
    const QColor panel(245, 245, 250), text(0, 0, 0), greyText(120, 120, 120);
    QPalette pal(text, panel, Qt::white, QColor(160, 160, 176), QColor(200, 200, 212), text,
                 Qt::white);
    pal.setColor(QPalette::Button, QColor(236, 236, 242));
    pal.setColor(QPalette::ButtonText, text);
    pal.setColor(QPalette::AlternateBase, QColor(240, 240, 248));
    pal.setColor(QPalette::Highlight, QColor(60, 100, 200));
    pal.setColor(QPalette::HighlightedText, Qt::white);
    pal.setColor(QPalette::PlaceholderText, greyText);
    pal.setColor(QPalette::Link, QColor(30, 60, 200));
    pal.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
    pal.setColor(QPalette::ToolTipText, text);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        pal.setColor(QPalette::Disabled, role, greyText);
    }
    pal.setColor(QPalette::Disabled, QPalette::Base, panel);
    pal.setColor(QPalette::Disabled, QPalette::Highlight, QColor(160, 170, 200));
    return pal;
}

void KeepSkinPalette(QWidget* window) {
    window->setPalette(SkinPalette());
    // A palette does not pass through a widget with a style sheet, now or once it has one:
    // every control holds the skin's own, unless it has colours of its own.
    // A control with colours of its own keeps them, and takes the skin's for the rest (the
    // disabled text and its etching), not the desktop theme's.
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isWindow()) {
            w->setPalette(w->testAttribute(Qt::WA_SetPalette) ? w->palette().resolve(SkinPalette())
                                                              : SkinPalette());
        }
    }
}

void CenterOn(QWidget* window, const QWidget* parent) {
    if (!parent) {
        return;
    }
    const QWidget* top = parent->window();
    QRect r = window->frameGeometry();
    r.moveCenter(top->frameGeometry().center());
    if (const QScreen* screen = top->screen()) {
        const QRect room = screen->availableGeometry();
        r.moveLeft(
            std::clamp(r.left(), room.left(), std::max(room.left(), room.right() - r.width())));
        r.moveTop(
            std::clamp(r.top(), room.top(), std::max(room.top(), room.bottom() - r.height())));
    }
    window->move(r.topLeft());
}

void FlatFrames(QWidget* root, const QColor& back) {
    const QString style =
        QStringLiteral("QGroupBox { background-color: %1; border: 1px solid %2; "
                       "border-radius: 3px; margin-top: 0.7em; }"
                       "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 2px; }")
            .arg(back.name(), back.darker(125).name());
    for (QGroupBox* box : root->findChildren<QGroupBox*>()) {
        box->setStyleSheet(style);
    }
}
