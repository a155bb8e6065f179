// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/fit_check.h"

#include "core/play_log.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QRadioButton>
#include <QStyleOption>
#include <QTimer>

namespace {

QString Where(QWidget* w, QWidget* window) {
    return window->objectName() + QLatin1Char('/') + w->parentWidget()->objectName() +
           QLatin1Char('/') + w->objectName() + QLatin1Char('(') +
           QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(')');
}

// The room text needs in f, wrapped to width when wrap is set.
QSize Need(const QFont& f, const QString& text, int width, bool wrap) {
    const int flags = Qt::AlignLeft | Qt::AlignTop | (wrap ? Qt::TextWordWrap : 0);
    return QFontMetrics(f)
        .boundingRect(QRect(0, 0, wrap ? width : 1 << 20, 1 << 20), flags, text)
        .size();
}

void Fits(QStringList& bad, const QString& where, const QSize& need, const QRect& room) {
    if (need.width() > room.width() || need.height() > room.height()) {
        bad << QStringLiteral("%1: text needs %2x%3, has %4x%5")
                   .arg(where)
                   .arg(need.width())
                   .arg(need.height())
                   .arg(room.width())
                   .arg(room.height());
    }
}

// A label's text within its contents, less indent and margin; rich text by its own measure.
void CheckLabel(QStringList& bad, QLabel* l, const QString& where) {
    const int inset = qMax(0, l->indent()) + l->margin();
    const QRect room = l->contentsRect().adjusted(inset, l->margin(), -inset, -l->margin());
    const QSize need = Qt::mightBeRichText(l->text())
                           ? QSize(l->sizeHint().width() - l->width() + room.width(),
                                   l->heightForWidth(l->width()) - l->height() + room.height())
                           : Need(l->font(), l->text(), room.width(), l->wordWrap());
    if (!l->toolTip().contains(l->text())) { // a path may run on where its tip shows it whole
        Fits(bad, where, need, room);
    }
}

// A button's text within its margins; a check box's or radio button's beside its mark.
void CheckButton(QStringList& bad, QAbstractButton* b, const QString& where) {
    QStyle* st = b->style();
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    const int m = st->pixelMetric(QStyle::PM_ButtonMargin, &opt, b);
    const QRect room = qobject_cast<QCheckBox*>(b)
                           ? st->subElementRect(QStyle::SE_CheckBoxContents, &opt, b)
                       : qobject_cast<QRadioButton*>(b)
                           ? st->subElementRect(QStyle::SE_RadioButtonContents, &opt, b)
                           : b->rect().adjusted(m, 0, -m, 0);
    Fits(bad, where, Need(b->font(), b->text(), 0, false), room);
}

void CheckCombo(QStringList& bad, QComboBox* c, const QString& where) {
    QStyleOptionComboBox opt;
    opt.initFrom(c);
    opt.editable = c->isEditable();
    Fits(bad, where, Need(c->font(), c->currentText(), 0, false),
         c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c));
}

void CheckLineEdit(QStringList& bad, QLineEdit* e, const QString& where) {
    // Typed text scrolls; shown values (read-only, dates) must fit whole.
    const QString text = e->text().isEmpty() ? e->placeholderText() : e->text();
    const QMargins tm = e->textMargins();
    QRect room = e->contentsRect().marginsRemoved(tm).adjusted(2, 1, -2, -1);
    if (!e->isReadOnly() && !qobject_cast<QAbstractSpinBox*>(e->parentWidget())) {
        room.setWidth(1 << 20);
    }
    Fits(bad, where, Need(e->font(), text, 0, false), room);
}

// The first rows' cells that can be seen.
void CheckItemView(QStringList& bad, QAbstractItemView* v, const QString& where) {
    const QAbstractItemModel* m = v->model();
    const int pad = 2 * (v->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, v) + 1);
    for (int row = 0; row < qMin(m->rowCount(v->rootIndex()), 40); ++row) {
        for (int col = 0; col < m->columnCount(v->rootIndex()); ++col) {
            const QModelIndex i = m->index(row, col, v->rootIndex());
            // A list's rows must fit its width; a table's cells scroll sideways, and a cell
            // may elide a text that its tip shows whole.
            const QRect cell = v->visualRect(i);
            const QRect seen =
                qobject_cast<QListView*>(v) ? cell.intersected(v->viewport()->rect()) : cell;
            const QString text = i.data().toString();
            const QSize need =
                Need(v->font(), text, seen.width() - pad, v->property("wordWrap").toBool());
            if (cell.intersects(v->viewport()->rect()) &&
                !i.data(Qt::ToolTipRole).toString().contains(text)) {
                Fits(bad, QStringLiteral("%1 cell %2,%3").arg(where).arg(row).arg(col), need,
                     seen.adjusted(pad / 2, 0, -pad / 2, 0));
            }
        }
    }
}

void CheckText(QStringList& bad, QWidget* w, const QString& where) {
    if (auto* l = qobject_cast<QLabel*>(w); l && l->pixmap().isNull() && !l->text().isEmpty()) {
        CheckLabel(bad, l, where);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->text().isEmpty()) {
        CheckButton(bad, b, where);
    } else if (auto* c = qobject_cast<QComboBox*>(w); c && !c->currentText().isEmpty()) {
        CheckCombo(bad, c, where);
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        CheckLineEdit(bad, e, where);
    } else if (auto* v = qobject_cast<QAbstractItemView*>(w); v && v->model()) {
        CheckItemView(bad, v, where);
    }
}

} // namespace

QStringList ClippedParts(QWidget* window) {
    QStringList bad;
    const QRegion region = window->mask().isEmpty() ? QRegion(window->rect()) : window->mask();
    for (QWidget* w : window->findChildren<QWidget*>()) {
        // The skin's background, title strip and drag handle span the window by design; an
        // item view's and a combo box's inner parts are the view's own.
        static const QStringList kSpanning = {"Img", "ImgTitle", "Img_FormTitle"};
        bool inner = false;
        for (QWidget* p = w->parentWidget(); p != window; p = p->parentWidget()) {
            inner = inner || qobject_cast<QAbstractScrollArea*>(p) || qobject_cast<QComboBox*>(p);
        }
        if (w->window() != window || !w->isVisibleTo(window) || inner ||
            kSpanning.contains(w->objectName())) {
            continue;
        }
        const QString where = Where(w, window);
        const QRect r(w->mapTo(window, QPoint()), w->size());
        const QRect parent(w->parentWidget()->mapTo(window, QPoint()), w->parentWidget()->size());
        if (!(QRegion(r) - region).isEmpty() || !parent.contains(r)) {
            bad << QStringLiteral("%1: %2,%3 %4x%5 lies outside the region or its parent")
                       .arg(where)
                       .arg(r.x())
                       .arg(r.y())
                       .arg(r.width())
                       .arg(r.height());
        }
        CheckText(bad, w, where);
    }
    return bad;
}

namespace {

// Checks its window each time it is shown, once the show has been laid out.
class ClipWatch : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Show) {
            QPointer<QWidget> window = static_cast<QWidget*>(watched);
            QTimer::singleShot(0, this, [window] {
                if (window && window->isVisible()) {
                    for (const QString& part : ClippedParts(window)) {
                        PlayLog(QStringLiteral("warn layout: ") + part);
                    }
                }
            });
        }
        return false;
    }
};

} // namespace

void WatchClipping(QWidget* window) {
    window->installEventFilter(new ClipWatch(window));
}
