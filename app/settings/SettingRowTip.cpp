#include "SettingRowTip.h"

#include "KvToolTip.h"

KvToolTip* SettingRowTip::tip() {
    if (!tip_) {
        tip_ = new KvToolTip(QString(), 0, row_);
        tip_->installOn(anchor_ ? anchor_ : row_);
    }
    return tip_;
}

void SettingRowTip::setDescription(const QString& text) {
    description_ = text;
    tip()->setText(this->text());
}

void SettingRowTip::setRefusal(const QString& reason) {
    if (reason == refusal_) return;
    refusal_ = reason;
    tip()->setText(text());
    if (!reason.isEmpty()) tip()->showNow();
}

QString SettingRowTip::text() const {
    if (refusal_.isEmpty()) return description_;
    return description_.isEmpty() ? refusal_ : description_ + "\n" + refusal_;
}
