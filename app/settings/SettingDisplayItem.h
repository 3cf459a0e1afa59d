#pragma once

// The display settings editor: accumulation time (how much event time one
// image covers, "33.33ms" or "250us"; a bare number means milliseconds) and
// slow rate (images per second of event time, relative to real time: 1 is
// 30 images per second). The two fields' texts are the state; a valid value
// leaves as a signal when an edit ends or an option is chosen, an invalid
// one is only marked red.
//
// Ownership: owns its form. GUI thread only.

#include <QWidget>
#include <cstdint>
#include <optional>

class KvComboBox;

namespace Ui {
class SettingDisplayItem;
}

// Microseconds from "<float>ms" or "<float>us"; 0 for anything else.
uint64_t parseAccumulationTime(const QString& text);

class SettingDisplayItem : public QWidget {
    Q_OBJECT
public:
    static constexpr uint64_t kMaxAccumulationTime_us = 1000000;
    static constexpr double kMinSlowRate = 0.03;
    static constexpr double kMaxSlowRate = 1000.0;

    explicit SettingDisplayItem(QWidget* parent = nullptr);
    ~SettingDisplayItem() override;

    KvComboBox* accumulationField() const;
    KvComboBox* slowRateField() const;
    void setFrameRateEditable(bool editable);

    // The values the fields show, when valid.
    std::optional<uint64_t> shownAccumulationTime() const;
    std::optional<uint32_t> shownFps() const;
    // Reports the shown values, so receivers connected after construction
    // play what the panel shows.
    void applyShownValues();

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);

public slots:
    void slotAccumulationTimeTextChanged(const QString& arg1);
    void slotAccumulationTimeTextEditFinished();
    void slotFrameRateTextChanged(const QString& arg1);
    void slotFrameRateEditTextFinished();

private:
    void setLook(KvComboBox* field, bool valid);

    Ui::SettingDisplayItem* ui;
    // What was reported last, so a finished edit reports a value once.
    std::optional<uint64_t> lastTime_us_;
    std::optional<uint32_t> lastFps_;
};
