#include "SettingPanelBase.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "SettingItemBox.h"

SettingPanelBase::SettingPanelBase(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 10, 0, 0);
    outer->setSpacing(8);

    title_ = new QLabel(this);
    title_->setObjectName("lb_setting_ui");
    title_->setStyleSheet(
        "#lb_setting_ui { font-size: 18px; color: #004B6A; padding-left: 12px; }");
    outer->addWidget(title_);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("scroll_area_setting");
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setStyleSheet("#scroll_area_setting { background: transparent; }");
    auto* inner = new QWidget(scroll_);
    inner->setObjectName("widget_scroll_content");
    inner->setStyleSheet("#widget_scroll_content { background: transparent; }");
    content_ = new QVBoxLayout(inner);
    content_->setContentsMargins(0, 0, 0, 0);
    content_->setSpacing(6);
    content_->addStretch(1);
    scroll_->setWidget(inner);
    outer->addWidget(scroll_, 1);
}

void SettingPanelBase::setPanelTitle(const QString& text) {
    title_->setText(text);
}

QList<SettingItemBox*> SettingPanelBase::groupBoxes() const {
    QList<SettingItemBox*> boxes;
    for (int i = 0; i < content_->count(); ++i) {
        if (auto* box = qobject_cast<SettingItemBox*>(content_->itemAt(i)->widget())) boxes << box;
    }
    return boxes;
}

void SettingPanelBase::placeGroup(SettingItemBox* box, int rank) {
    box->setFoldState(true);
    box->setProperty("groupRank", rank);
    int at = content_->count() - 1;  // before the stretch
    for (int i = 0; i < content_->count() - 1; ++i) {
        QWidget* w = content_->itemAt(i)->widget();
        if (w && w->property("groupRank").toInt() > rank) {
            at = i;
            break;
        }
    }
    content_->insertWidget(at, box);
    ensureTrailingStretch();
    update();
}

void SettingPanelBase::removeGroup(SettingItemBox*& box) {
    if (!box) return;
    content_->removeWidget(box);
    delete box;
    box = nullptr;
    content_->update();
}

void SettingPanelBase::ensureTrailingStretch() {
    QLayoutItem* last = content_->count() ? content_->itemAt(content_->count() - 1) : nullptr;
    if (!last || !last->spacerItem()) content_->addStretch(1);
}
