#include "KvLabelElider.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QStyle>

KvLabelElider::KvLabelElider(QLabel* label) : QObject(label) {
    label->installEventFilter(this);
}

void KvLabelElider::install(QLabel* label) {
    if (!label || label->findChild<KvLabelElider*>(QString(), Qt::FindDirectChildrenOnly)) return;
    label->setMinimumWidth(1);
    new KvLabelElider(label);
}

QString KvLabelElider::shownText(const QLabel* label) {
    return label->fontMetrics().elidedText(label->text(), Qt::ElideRight,
                                           label->contentsRect().width());
}

bool KvLabelElider::eventFilter(QObject* watched, QEvent* event) {
    auto* label = qobject_cast<QLabel*>(watched);
    if (!label || event->type() != QEvent::Paint) return false;
    const QString shown = shownText(label);
    // The tip follows what is cut, so a whole text shows none.
    const QString tip = shown == label->text() ? QString() : label->text();
    if (label->toolTip() != tip) label->setToolTip(tip);
    QPainter painter(label);
    label->style()->drawItemText(&painter, label->contentsRect(), int(label->alignment()),
                                 label->palette(), label->isEnabled(), shown,
                                 label->foregroundRole());
    return true;
}
