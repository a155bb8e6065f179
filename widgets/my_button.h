// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QLabel>
#include <QTimer>
#include <QVariantMap>

#include "widgets/button_layout.h"

// The program's one button: a picture face, an optional icon above a centred caption, a
// hover overlay with a darker border while the mouse is over it, a pressed face while a
// mouse button is held, and a grey caption when disabled. A push button to the keyboard and
// to assistive tools: it takes the focus by Tab, shows a frame while focused, and Space,
// Return or Enter press it.
class MyButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(QString BtCaption READ BtCaption WRITE SetBtCaption)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(int Style READ Style WRITE SetStyle)
    Q_PROPERTY(int OverColor READ OverColor WRITE SetOverColor)
public:
    static inline const QColor kBorderNormal{155, 155, 255};
    static inline const QColor kBorderHover{100, 100, 200};
    static inline const QColor kCaptionEnabled{0, 0, 0};
    static inline const QColor kCaptionDisabled{128, 128, 128};
    static inline const QColor kFocusFrame{40, 60, 170};

    explicit MyButton(QWidget* parent = nullptr);
    // A button on parent named objectName, placed at a rectangle given in twips, as the
    // windows lay their buttons out.
    static MyButton* Create(QWidget* parent, const QString& objectName, const QRect& twips,
                            const QString& caption, int overColor = 0, int style = 0);

    QString BtCaption() const { return caption_->text(); }
    void SetBtCaption(const QString& caption);
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool on);
    // A locked button stays disabled whatever SetEnabled is told later (a read-only page);
    // unlocked, it is as SetEnabled last said.
    void SetLocked(bool locked);
    int Style() const { return style_; }
    void SetStyle(int style);
    int OverColor() const { return overColor_; }
    void SetOverColor(int overColor);

    // Shows face Img_bk(Index + 2) for Index > 0, else the normal face Img_bk(0).
    void SelBackColor(int Index);
    void ChangeEnabledColor();

    // The stored properties ("BtCaption", "Enabled", "Style", "OverColor"); writing
    // leaves out every value equal to its default.
    void ReadProperties(const QVariantMap& bag);
    QVariantMap WriteProperties() const;

    // What is shown now, for tests and for painting.
    int FaceIndex() const { return face_; }
    bool Hovering() const { return !ImgMove.isEmpty(); }
    bool OverlayShown() const { return overlayShown_; }
    QColor BorderColor() const { return borderColor_; }
    int BorderWidth() const { return borderWidth_; }
    QColor CaptionColor() const;
    const ButtonLayout& Layout() const { return layout_; }
    QLabel* Caption() const { return caption_; }
    QTimer* HoverTimer() { return &hoverTimer_; }

signals:
    // A left click, or Enter / Return / Space let go on the focused button.
    void Click();
    // Any other key with a character (Escape is 27).
    void KeyPress(int keyAscii);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    // A new font (the window's, set after the button was made) sizes the caption afresh.
    void changeEvent(QEvent* e) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void keyReleaseEvent(QKeyEvent*) override;

private:
    static bool IsReturnKey(const QKeyEvent* e);
    // Return and Enter act as the space bar, which the base class handles.
    void PassAsSpace(QKeyEvent* e);
    void DrawButton(int style);
    void ShowEnabled();
    void ShowPressed(bool down);
    void HoverOn();
    void HoverOff();
    void OnTimer();

    QLabel* caption_;
    QTimer hoverTimer_;
    QRectF ImgMove; // hover overlay in pixels; empty when collapsed
    ButtonLayout layout_;
    int style_ = 0;
    int overColor_ = 0;
    int face_ = 0;
    bool overlayShown_ = true;
    bool MouseSeen = false;
    QColor borderColor_ = kBorderNormal;
    int borderWidth_ = 1;
    bool locked_ = false;
    bool enabledWhenUnlocked_ = true;
    bool returnHeld_ = false; // Return or Enter pressed the button and is still down
};
