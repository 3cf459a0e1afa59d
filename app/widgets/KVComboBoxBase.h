#pragma once

// A combo box that ignores the mouse wheel (so the side bar scrolls) and
// reports its list opening and closing. Its items draw no focus frame.
// GUI thread only.

#include <QComboBox>
#include <QStyledItemDelegate>

class NoFocusFrameDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

class KVComboBoxBase : public QComboBox {
    Q_OBJECT
public:
    explicit KVComboBoxBase(QWidget* parent = nullptr);

    void showPopup() override;
    void hidePopup() override;

signals:
    void popupShown();
    void popupHidden();

protected:
    void wheelEvent(QWheelEvent* event) override;
};
