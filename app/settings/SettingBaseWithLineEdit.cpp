#include "SettingBaseWithLineEdit.h"

#include "SettingNames.h"
#include "ui_SettingBaseWithLineEdit.h"

#include <QRegularExpression>
#include <QSignalBlocker>
#include <algorithm>
#include <limits>

SettingBaseWithLineEdit::SettingBaseWithLineEdit(const std::string& name, QWidget* parent)
    : QWidget(parent), ui(new Ui::SettingBaseWithLineEdit), name_(name), tip_(this) {
    ui->setupUi(this);
    ui->lb_item_name->setText(translatedDisplayName(QString::fromStdString(name)));
    ui->widget_slider->hide();
    ui->horizontalSlider->setFocusProxy(ui->le_kv_line_edit);
    min_ = ui->horizontalSlider->minimum();
    max_ = ui->horizontalSlider->maximum();
    connect(ui->le_kv_line_edit, &KvLineEditBase::signalMouseHoverd, ui->widget_slider,
            &QWidget::setVisible);
    connect(ui->le_kv_line_edit, &QLineEdit::editingFinished, this,
            &SettingBaseWithLineEdit::onEditingFinished);
}

SettingBaseWithLineEdit::~SettingBaseWithLineEdit() {
    // The field outlives the form pointers; its last focus-out must not reach them.
    ui->le_kv_line_edit->disconnect(this);
    delete ui;
}

bool SettingBaseWithLineEdit::parse(long long& value) const {
    // A run of digits too long for any integer is still a number, only far
    // out of range: it saturates so that the end of the edit clamps it like
    // any other out-of-range value.
    static const QRegularExpression digits("^\\s*([+-]?)\\d+\\s*$");
    const QString text = ui->le_kv_line_edit->text();
    const QRegularExpressionMatch m = digits.match(text);
    if (!m.hasMatch()) return false;
    bool ok = false;
    value = text.trimmed().toLongLong(&ok, 10);
    if (!ok)
        value = m.captured(1) == "-" ? std::numeric_limits<long long>::min()
                                     : std::numeric_limits<long long>::max();
    return true;
}

void SettingBaseWithLineEdit::applyInRange(long long value) {
    const int clamped = int(std::clamp<long long>(value, min_, max_));
    ui->horizontalSlider->setValue(clamped);
    // A value beyond an end the slider already sits at changes nothing and
    // reports nothing; the text must still show the value in force.
    const QString inForce = QString::number(ui->horizontalSlider->value());
    if (ui->le_kv_line_edit->text() != inForce) ui->le_kv_line_edit->setText(inForce);
}

void SettingBaseWithLineEdit::markFocused() {
    if (ui->le_kv_line_edit->hasFocus()) ui->le_kv_line_edit->setBorderColor("#004B6A");
}

void SettingBaseWithLineEdit::setRange(int minimum, int maximum) {
    // The slider moves a value outside the new range to the nearest end and
    // reports it, which fills the text.
    // The bounds are known before the slider reports, so the text it fills
    // is judged against the new range.
    min_ = minimum;
    max_ = std::max(minimum, maximum);
    ui->horizontalSlider->setRange(min_, max_);
}

void SettingBaseWithLineEdit::setValue(int value) {
    if (value < min_ || value > max_) return;
    ui->le_kv_line_edit->setText(QString::number(value));
    ui->horizontalSlider->setValue(value);
}

void SettingBaseWithLineEdit::setUnit(const QString& unit) {
    if (unit.isEmpty() || unit == " ") return;
    ui->lb_unit->setText("(" + unit + ")");
}

void SettingBaseWithLineEdit::setRowToolTip(const QString& text) {
    tip_.setDescription(text);
}

QString SettingBaseWithLineEdit::rowToolTip() const {
    return tip_.text();
}

void SettingBaseWithLineEdit::setRefusal(const QString& reason) {
    tip_.setRefusal(reason);
}

void SettingBaseWithLineEdit::showValue(int value) {
    if (value < min_ || value > max_) return;
    const QSignalBlocker sliderQuiet(ui->horizontalSlider);
    const QSignalBlocker textQuiet(ui->le_kv_line_edit);
    ui->horizontalSlider->setValue(value);
    long long shown = 0;
    if (!parse(shown) || shown != value) ui->le_kv_line_edit->setText(QString::number(value));
}

bool SettingBaseWithLineEdit::holdsNumber() const {
    long long v = 0;
    return parse(v);
}

bool SettingBaseWithLineEdit::isBeingEdited() const {
    return ui->le_kv_line_edit->hasFocus();
}

void SettingBaseWithLineEdit::setValueState(bool accepted) {
    // An accepted value leaves the focus look of a field being typed in.
    const bool focused = ui->le_kv_line_edit->hasFocus();
    ui->le_kv_line_edit->setBorderColor(accepted ? (focused ? "#004B6A" : "#ACACAC") : "#FF6058");
}

void SettingBaseWithLineEdit::on_horizontalSlider_valueChanged(int value) {
    // Text that already reads as this value (the user's own typing) is left
    // as it is, cursor and all.
    long long shown = 0;
    if (!parse(shown) || shown != value) ui->le_kv_line_edit->setText(QString::number(value));
    emit signalItemValueChanged(name_, value);
    if (callback_) callback_(name_, value);
}

void SettingBaseWithLineEdit::on_le_kv_line_edit_textChanged(const QString&) {
    long long v = 0;
    if (!parse(v)) {
        ui->le_kv_line_edit->setBorderColor("#FF6058");
        return;
    }
    // While typing, a number outside the range is only a prefix of what the
    // user means (5 on the way to 5000): it is neither applied nor rewritten.
    // The end of the edit brings it into the range.
    if (v < min_ || v > max_) {
        ui->le_kv_line_edit->setBorderColor("#FF6058");
        return;
    }
    // Before the write: a verdict the value callback draws must stay. A
    // value in range is no longer marked red, focused or not.
    ui->le_kv_line_edit->setBorderColor(ui->le_kv_line_edit->hasFocus() ? "#004B6A" : "#ACACAC");
    ui->horizontalSlider->setValue(int(v));
}

void SettingBaseWithLineEdit::onEditingFinished() {
    long long v = 0;
    if (!parse(v)) {
        // Text that is no number cannot be put in force: the row goes back to
        // the value in force, which is the one the slider holds.
        const QSignalBlocker textQuiet(ui->le_kv_line_edit);
        ui->le_kv_line_edit->setText(QString::number(ui->horizontalSlider->value()));
        ui->le_kv_line_edit->setBorderColor(ui->le_kv_line_edit->hasFocus() ? "#004B6A"
                                                                            : "#ACACAC");
        return;
    }
    if (v < min_ || v > max_) markFocused();  // the red of an out-of-range number goes
    applyInRange(v);
}

// A step from text still out of range (typed, not yet ended) lands on the
// nearest end, as ending the edit would.
void SettingBaseWithLineEdit::on_pb_add_item_value_clicked() {
    long long v = 0;
    if (!parse(v) || v == max_) return;
    applyInRange(v < max_ ? v + 1 : v);
    markFocused();
}

void SettingBaseWithLineEdit::on_pb_sub_item_value_clicked() {
    long long v = 0;
    if (!parse(v) || v == min_) return;
    applyInRange(v > min_ ? v - 1 : v);
    markFocused();
}
