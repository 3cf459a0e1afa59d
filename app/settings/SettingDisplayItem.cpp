#include "SettingDisplayItem.h"

#include <QLineEdit>
#include <cmath>

#include "KVComboBoxBase.h"
#include "KvComboBox.h"
#include "ui_SettingDisplayItem.h"

namespace {

// A bare number means milliseconds.
QString withUnit(const QString& text) {
    return text.endsWith("ms") || text.endsWith("us") ? text : text + "ms";
}

std::optional<double> parseSlowRate(const QString& text) {
    bool ok = false;
    const double r = text.toDouble(&ok);
    if (!ok || !(r >= SettingDisplayItem::kMinSlowRate && r <= SettingDisplayItem::kMaxSlowRate))
        return std::nullopt;
    return r;
}

bool validAccumulationTime(uint64_t time_us) {
    return time_us >= 1 && time_us <= SettingDisplayItem::kMaxAccumulationTime_us;
}

}  // namespace

uint64_t parseAccumulationTime(const QString& text) {
    float scale = 0.0f;
    if (text.endsWith("ms"))
        scale = 1000.0f;
    else if (text.endsWith("us"))
        scale = 1.0f;
    else
        return 0;
    bool ok = false;
    const float number = text.left(text.size() - 2).toFloat(&ok);
    if (!ok) return 0;
    const float time_us = number * scale;
    // Negative, NaN and huge values are no time at all (and must not reach a
    // float-to-unsigned conversion).
    if (!(time_us >= 0.0f) || time_us >= 1.8e19f) return 0;
    return uint64_t(time_us);
}

SettingDisplayItem::SettingDisplayItem(QWidget* parent)
    : QWidget(parent), ui(new Ui::SettingDisplayItem) {
    ui->setupUi(this);
    KvComboBox* acc = ui->widget_combobox_accumulation_time;
    KvComboBox* rate = ui->widget_combobox_frame_rate;
    acc->comboBox()->addItems({"33.33ms", "100ms", "10ms", "1ms"});
    rate->comboBox()->addItems({"1", "2", "5", "10", "100", "1000"});
    for (KvComboBox* field : {acc, rate}) {
        field->setEditable(true);
        // Typed values are values, not new options.
        field->comboBox()->setInsertPolicy(QComboBox::NoInsert);
    }

    // Connected after the field's own look handlers, so the verdict drawn here wins.
    connect(acc->comboBox()->lineEdit(), &QLineEdit::textChanged, this,
            &SettingDisplayItem::slotAccumulationTimeTextChanged);
    connect(rate->comboBox()->lineEdit(), &QLineEdit::textChanged, this,
            &SettingDisplayItem::slotFrameRateTextChanged);
    // An edit ends when typing ends or an option is chosen. (The field's own
    // "editing finished" also fires on every keystroke of an editable box,
    // which would apply half-typed values and rewrite the text under the cursor.)
    connect(acc->comboBox()->lineEdit(), &QLineEdit::editingFinished, this,
            &SettingDisplayItem::slotAccumulationTimeTextEditFinished);
    connect(acc->comboBox(), &QComboBox::currentIndexChanged, this,
            &SettingDisplayItem::slotAccumulationTimeTextEditFinished);
    connect(rate->comboBox()->lineEdit(), &QLineEdit::editingFinished, this,
            &SettingDisplayItem::slotFrameRateEditTextFinished);
    connect(rate->comboBox(), &QComboBox::currentIndexChanged, this,
            &SettingDisplayItem::slotFrameRateEditTextFinished);
}

SettingDisplayItem::~SettingDisplayItem() {
    delete ui;
}

KvComboBox* SettingDisplayItem::accumulationField() const {
    return ui->widget_combobox_accumulation_time;
}

KvComboBox* SettingDisplayItem::slowRateField() const {
    return ui->widget_combobox_frame_rate;
}

void SettingDisplayItem::setFrameRateEditable(bool editable) {
    ui->widget_combobox_frame_rate->setEnabled(editable);
}

void SettingDisplayItem::setLook(KvComboBox* field, bool valid) {
    field->setStyleProperty("border",
                            valid ? "border: 1px solid #004B6A;" : "border: 1px solid #FF6058;");
    field->setFrameColor(valid ? "#D7E7EE" : "#FFDAD8");
    if (!valid) field->update();
}

void SettingDisplayItem::slotAccumulationTimeTextChanged(const QString& arg1) {
    setLook(ui->widget_combobox_accumulation_time,
            validAccumulationTime(parseAccumulationTime(withUnit(arg1))));
}

void SettingDisplayItem::slotAccumulationTimeTextEditFinished() {
    KvComboBox* field = ui->widget_combobox_accumulation_time;
    QLineEdit* edit = field->comboBox()->lineEdit();
    const QString text = withUnit(edit->text());
    const int cursor = edit->cursorPosition();
    const uint64_t time_us = parseAccumulationTime(text);
    if (!validAccumulationTime(time_us)) return;
    if (edit->text() != text) {
        edit->setText(text);
        edit->setCursorPosition(cursor);
    }
    field->setStyleProperty("border", "border: 1px solid #A7A7A7;");
    // One finished edit can arrive twice (Return, then the box's own handling).
    if (time_us == lastTime_us_) return;
    lastTime_us_ = time_us;
    emit signalCumulativeTimeChanged(time_us);
}

void SettingDisplayItem::slotFrameRateTextChanged(const QString& arg1) {
    setLook(ui->widget_combobox_frame_rate, parseSlowRate(arg1).has_value());
}

void SettingDisplayItem::slotFrameRateEditTextFinished() {
    const std::optional<uint32_t> fps = shownFps();
    if (!fps) return;
    ui->widget_combobox_frame_rate->setStyleProperty("border", "border: 1px solid #A7A7A7;");
    if (fps == lastFps_) return;
    lastFps_ = fps;
    emit signalFpsChanged(*fps);
}

std::optional<uint64_t> SettingDisplayItem::shownAccumulationTime() const {
    const uint64_t time_us = parseAccumulationTime(
        withUnit(ui->widget_combobox_accumulation_time->comboBox()->lineEdit()->text()));
    if (!validAccumulationTime(time_us)) return std::nullopt;
    return time_us;
}

std::optional<uint32_t> SettingDisplayItem::shownFps() const {
    const std::optional<double> r =
        parseSlowRate(ui->widget_combobox_frame_rate->comboBox()->lineEdit()->text());
    if (!r) return std::nullopt;
    // At most 30000; rates under 1/30 give 0, which receivers play as 1.
    return uint32_t(std::trunc(*r * 30.0)) & 0xFFFFu;
}

void SettingDisplayItem::applyShownValues() {
    if (const auto fps = shownFps()) emit signalFpsChanged(*fps);
    if (const auto time_us = shownAccumulationTime())
        emit signalCumulativeTimeChanged(time_us.value());
}
