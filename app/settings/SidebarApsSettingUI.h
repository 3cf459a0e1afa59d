#pragma once

// The side-bar panel "APS Setting", filled while a fusion camera is open:
// the frame sensor's parameters ("APS", built from the camera's APS tool)
// and "APS Manual Calibration", two whole-pixel offsets that move the frame
// image against the events while the user edits, and "Apply" to keep them.
//
// Ownership: owns its boxes and rows; holds the APS tool as a shared handle
// until the group is rebuilt or removed.
// Threads: GUI thread only; the tool is called synchronously.
// Failure: a missing tool or empty parameter list leaves "APS" absent (a
// debug line); the calibration group does not depend on the tool.

#include <memory>
#include <string>

#include "korvane/camera/CameraTool.h"
#include "SettingPanelBase.h"

class SettingBaseWithLineEdit;
class SettingItemBox;
class QPushButton;

class SidebarApsSettingUI : public SettingPanelBase {
    Q_OBJECT
public:
    explicit SidebarApsSettingUI(QWidget* parent = nullptr);

    void setApsToolUI(std::shared_ptr<korvane::CameraTool> tool);
    void setManualCalibrationUI();
    // Empties the panel and zeroes the offsets without reporting them.
    void clearApsUI();

    SettingItemBox* apsBox() const { return apsBox_; }
    SettingItemBox* calibrationBox() const { return caliBox_; }
    SettingBaseWithLineEdit* offsetXRow() const { return offsetX_; }
    SettingBaseWithLineEdit* offsetYRow() const { return offsetY_; }
    QPushButton* applyButton() const { return apply_; }
    double offsetX() const { return x_; }
    double offsetY() const { return y_; }

signals:
    void signalManualCaliOffsetXY(double x, double y);
    void signalApplyCaliOffset();

public slots:
    void onApsBoolValueChanged(std::string name, bool value);
    void onApsSliderValueChanged(std::string name, int value);
    void onApsSliderFloatValueChanged(std::string name, int value);

private:
    SettingBaseWithLineEdit* makeOffsetRow(const char* name, const QString& tip);

    std::shared_ptr<korvane::CameraTool> tool_;
    SettingItemBox* apsBox_ = nullptr;
    SettingItemBox* caliBox_ = nullptr;
    SettingBaseWithLineEdit* offsetX_ = nullptr;
    SettingBaseWithLineEdit* offsetY_ = nullptr;
    QPushButton* apply_ = nullptr;
    double x_ = 0.0;
    double y_ = 0.0;
};
