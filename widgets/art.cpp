// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/art.h"

#include <QGuiApplication>
#include <QHash>
#include <QIcon>
#include <QPainter>
#include <QSvgRenderer>

// The artwork lives in a static library: register it before the first use.
static void InitArt() {
    static const bool done = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(done);
}

QPixmap Art(const QString& name, const QSize& size, qreal dpr) {
    InitArt();
    if (size.isEmpty()) {
        return {};
    }
    if (dpr <= 0) {
        dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    }
    const QString key =
        QStringLiteral("%1@%2x%3@%4").arg(name).arg(size.width()).arg(size.height()).arg(dpr);
    static QHash<QString, QPixmap> cache;
    auto it = cache.constFind(key);
    if (it != cache.constEnd()) {
        return *it;
    }
    QSvgRenderer svg(QStringLiteral(":/art/%1.svg").arg(name));
    QPixmap pm(size * dpr);
    pm.fill(Qt::transparent);
    if (svg.isValid()) {
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p);
    }
    pm.setDevicePixelRatio(dpr);
    cache.insert(key, pm);
    return pm;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int s : {16, 22, 24, 32, 48, 64, 128}) {
        icon.addPixmap(Art(QStringLiteral("belvoran"), QSize(s, s), 1.0));
    }
    return icon;
}
