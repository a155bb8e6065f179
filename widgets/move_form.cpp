// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/move_form.h"

#include "widgets/art.h"
#include "widgets/button_layout.h"

#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QWidget>

void MoveForm::DragStart(Qt::MouseButtons, Qt::KeyboardModifiers, double X, double Y) {
    DownX = static_cast<long>(RoundHalfEven(X));
    DownY = static_cast<long>(RoundHalfEven(Y));
    Dragging = true;
}

QPoint MoveForm::DragMove(const QPoint& windowPos, Qt::MouseButtons, Qt::KeyboardModifiers,
                          double X, double Y) {
    MoveX = static_cast<long>(RoundHalfEven(X));
    MoveY = static_cast<long>(RoundHalfEven(Y));
    if (!Dragging) {
        return windowPos;
    }
    return windowPos + QPoint(qRound(double(MoveX - DownX) / kTwipsPerPixel),
                              qRound(double(MoveY - DownY) / kTwipsPerPixel));
}

void MoveForm::DragEnd(Qt::MouseButtons, Qt::KeyboardModifiers, double, double) {
    Dragging = false;
}

namespace {

// Feeds a title strip's mouse events to one drag state.
class DragFilter : public QObject {
public:
    DragFilter(QWidget* strip, QWidget* window) : QObject(strip), window_(window) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        auto twips = [](QMouseEvent* m) {
            return QPointF(m->position().x() * kTwipsPerPixel, m->position().y() * kTwipsPerPixel);
        };
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* m = static_cast<QMouseEvent*>(event);
            const QPointF t = twips(m);
            state_.DragStart(m->buttons(), m->modifiers(), t.x(), t.y());
            return true;
        }
        case QEvent::MouseMove: {
            auto* m = static_cast<QMouseEvent*>(event);
            const QPointF t = twips(m);
            const QPoint to =
                state_.DragMove(window_->pos(), m->buttons(), m->modifiers(), t.x(), t.y());
            if (to != window_->pos()) {
                window_->move(to);
            }
            return true;
        }
        case QEvent::MouseButtonRelease: {
            auto* m = static_cast<QMouseEvent*>(event);
            const QPointF t = twips(m);
            state_.DragEnd(m->buttons(), m->modifiers(), t.x(), t.y());
            return true;
        }
        default:
            return false;
        }
    }

private:
    QWidget* window_;
    MoveForm state_;
};

} // namespace

void MakeDragHandle(QWidget* strip, QWidget* window) {
    strip->setMouseTracking(true); // moves without a press are recorded too
    strip->installEventFilter(new DragFilter(strip, window));
}
