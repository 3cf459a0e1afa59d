#include "SidebarCameraSettingUI.h"

#include "SettingDisplayItem.h"
#include "SettingItemBox.h"

SidebarCameraSettingUI::SidebarCameraSettingUI(QWidget* parent) : SettingPanelBase(parent) {
    setPanelTitle(tr("Camera Setting"));
    buildDisplayGroup();
}

void SidebarCameraSettingUI::buildDisplayGroup() {
    removeGroup(box_);
    item_ = nullptr;
    box_ = new SettingItemBox();
    box_->setTitle(tr("Display"));
    item_ = new SettingDisplayItem();
    box_->addItem(item_);
    connect(item_, &SettingDisplayItem::signalCumulativeTimeChanged, this,
            &SidebarCameraSettingUI::slotCumulativeTimeChanged);
    connect(item_, &SettingDisplayItem::signalFpsChanged, this,
            &SidebarCameraSettingUI::slotFpsChanged);
    placeGroup(box_, 0);
}

void SidebarCameraSettingUI::setFrameRateEditable(bool editable) {
    if (item_) item_->setFrameRateEditable(editable);
}

void SidebarCameraSettingUI::applyShownValues() {
    if (item_) item_->applyShownValues();
}

void SidebarCameraSettingUI::slotCumulativeTimeChanged(uint64_t time_us) {
    emit signalCumulativeTimeChanged(time_us);
}

void SidebarCameraSettingUI::slotFpsChanged(uint32_t fps) {
    emit signalFpsChanged(fps);
}
