// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/round_form.h"

#include <QPainterPath>
#include <QWidget>

RoundRegion RoundRegionFor(const QSize& outer) {
    return {30, 30, outer.width() - 30, outer.height() + 30};
}

QRegion ClientRoundRegion(const QSize& client) {
    const QSize outer(client.width() + 2 * kFrameSide, client.height() + kFrameTop + kFrameSide);
    const RoundRegion r = RoundRegionFor(outer);
    QPainterPath path;
    path.addRoundedRect(
        QRectF(r.left - kFrameSide, r.top - kFrameTop, r.right - r.left, r.bottom - r.top),
        kCornerSize / 2.0, kCornerSize / 2.0);
    return QRegion(path.toFillPolygon().toPolygon());
}

void MakeRoundForm(QWidget* window) {
    window->setWindowFlag(Qt::FramelessWindowHint, true);
    window->setMask(ClientRoundRegion(window->size()));
}
