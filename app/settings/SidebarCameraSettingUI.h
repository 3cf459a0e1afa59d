#pragma once

// The side-bar panel "Camera Setting": the "Display" group with the
// accumulation time and slow rate editor, whose values it passes on.
//
// Ownership: owns its box and editor. GUI thread only.

#include <cstdint>

#include "SettingPanelBase.h"

class SettingDisplayItem;
class SettingItemBox;

class SidebarCameraSettingUI : public SettingPanelBase {
    Q_OBJECT
public:
    explicit SidebarCameraSettingUI(QWidget* parent = nullptr);

    SettingDisplayItem* displayItem() const { return item_; }
    SettingItemBox* displayBox() const { return box_; }
    // Live cameras fix the rate; recordings let the user slow them down.
    void setFrameRateEditable(bool editable);
    // Reports what the editor shows; called once the receivers are connected.
    void applyShownValues();

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);

public slots:
    void slotCumulativeTimeChanged(uint64_t time_us);
    void slotFpsChanged(uint32_t fps);

private:
    void buildDisplayGroup();

    SettingItemBox* box_ = nullptr;
    SettingDisplayItem* item_ = nullptr;
};
