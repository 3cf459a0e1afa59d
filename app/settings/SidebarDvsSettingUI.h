#pragma once

// The side-bar panel "DVS Setting": six foldable groups, each built from one
// camera tool, whose rows write every change to the camera at once. It
// knows no parameter by name; everything comes from the tools.
//
// Ownership: owns its boxes and rows; holds each group's tool as a shared
// handle until the group is rebuilt or removed (so an unplugged camera's
// tool is dropped when the window clears the panel).
// Threads: GUI thread only; tools are called synchronously.
// Failure: a missing tool or an empty parameter list leaves the group
// absent with a debug line. After every write the group's rows show what
// the camera holds, and a refused write says why in its row's tip.

#include <QList>
#include <map>
#include <memory>
#include <string>

#include "korvane/camera/CameraTool.h"
#include "SettingPanelBase.h"

class SettingBaseWithLineEdit;
class SettingItemBox;

class SidebarDvsSettingUI : public SettingPanelBase {
    Q_OBJECT
public:
    using ToolHandle = std::shared_ptr<korvane::CameraTool>;

    explicit SidebarDvsSettingUI(QWidget* parent = nullptr);
    ~SidebarDvsSettingUI() override;

    void setBiasesToolUI(ToolHandle tool);
    void setTriggerInToolUI(ToolHandle tool);
    void setAntiFlickerToolUI(ToolHandle tool);
    void setEventRateControlToolUI(ToolHandle tool);
    void setEventTrailFilterToolUI(ToolHandle tool);
    void setROIToolUI(ToolHandle tool);
    // Removes all six groups (a recording is open instead of a camera).
    void clearToolUI();

    // The group's box, or null while the group is absent.
    SettingItemBox* groupBox(korvane::ToolType type) const;
    const QList<SettingBaseWithLineEdit*>& roiRows() const { return roiRows_; }

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);

public slots:
    void onBiasSliderValueChanged(std::string name, int value);
    void onTriggerInSliderValueChanged(std::string name, bool value);
    void onAntiFlickerSliderValueChanged(std::string name, int value);
    void onAntiFlickerSliderValueChanged(std::string name, bool value);
    void onAntiFlickerSliderFloatValueChanged(std::string name, int value);
    void onAntiFlickerSliderEnumValueChanged(std::string name, std::string value);
    void onEventRateControlSliderValueChanged(std::string name, int value);
    void onEventRateControlSliderValueChanged(std::string name, bool value);
    void onEventTrailFilterSliderValueChanged(std::string name, int value);
    void onEventTrailFilterSliderValueChanged(std::string name, bool value);
    void onEventTrailFilterSliderValueChanged(std::string name, std::string value);
    void onROISliderValueChanged(std::string name, bool value);
    void onROISliderValueChanged(std::string name, int value);
    void slotCumulativeTimeChanged(uint64_t time_us);
    void slotFpsChanged(uint32_t fps);

private:
    struct Group {
        ToolHandle tool;
        SettingItemBox* box = nullptr;
    };
    enum GroupIndex {
        Biases,
        TriggerIn,
        AntiFlicker,
        EventRateControl,
        EventTrailFilter,
        Roi,
        kGroups
    };

    // Steps common to every builder: drop the old box, keep the tool, fetch
    // the descriptions. Null when there is nothing to build (logged).
    SettingItemBox* beginGroup(GroupIndex index, ToolHandle tool, const char* noToolLine,
                               const char* emptyLine,
                               std::map<std::string, korvane::BasicParameterInfo>& infos);
    void endGroup(GroupIndex index, SettingItemBox* box);
    // Writes through the group's tool; the group's rows show the outcome.
    template <class T>
    bool write(GroupIndex index, const std::string& name, T value);

    Group groups_[kGroups];
    QList<SettingBaseWithLineEdit*> roiRows_;
};
