#include "KVComboBoxBase.h"

#include <QApplication>
#include <QListView>
#include <QWheelEvent>

void NoFocusFrameDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QStyleOptionViewItem plain(option);
    plain.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, plain, index);
}

KVComboBoxBase::KVComboBoxBase(QWidget* parent) : QComboBox(parent) {
    QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);
    auto* list = new QListView(this);
    list->setItemDelegate(new NoFocusFrameDelegate(list));
    setView(list);
    QWidget* container = view()->parentWidget();
    if (container &&
        container->metaObject()->className() == QByteArray("QComboBoxPrivateContainer")) {
        container->setWindowFlag(Qt::NoDropShadowWindowHint, true);
    }
}

void KVComboBoxBase::showPopup() {
    emit popupShown();
    QComboBox::showPopup();
    if (QWidget* frame = view()->parentWidget()) frame->move(frame->x(), frame->y() + 2);
}

void KVComboBoxBase::hidePopup() {
    emit popupHidden();
    QComboBox::hidePopup();
}

void KVComboBoxBase::wheelEvent(QWheelEvent* event) {
    event->ignore();
}
