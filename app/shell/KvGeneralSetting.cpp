#include "KvGeneralSetting.h"

#include <QDebug>
#include <QFileDialog>
#include <QTabBar>
#include <algorithm>

#include "AppConfig.h"
#include "KVComboBoxBase.h"
#include "KVMessageBox.h"
#include "KvComboBox.h"
#include "WindowFrameAgent.h"
#include "ui_KvGeneralSetting.h"

namespace {

// Stored untranslated whatever the display language; index 0 and 1 of the box.
const char* const kEdgeTypes[] = {QT_TRANSLATE_NOOP("KvGeneralSetting", "Rising Edge"),
                                  QT_TRANSLATE_NOOP("KvGeneralSetting", "Falling Edge")};
const char* const kThemeNames[] = {QT_TRANSLATE_NOOP("KvGeneralSetting", "Gray"),
                                   QT_TRANSLATE_NOOP("KvGeneralSetting", "Dark"),
                                   QT_TRANSLATE_NOOP("KvGeneralSetting", "RedBlue"),
                                   QT_TRANSLATE_NOOP("KvGeneralSetting", "RedGreen"),
                                   QT_TRANSLATE_NOOP("KvGeneralSetting", "Light")};

void step(QLineEdit* field, int delta, quint32 max) {
    const quint32 v = parseSeconds(field->text());
    // Held at the ends: no wrap from 0 down, nothing past what can be kept.
    if (delta < 0 && v == 0) return;
    if (delta > 0 && v >= max) return;
    field->setText(QString::number(delta < 0 ? v - 1 : v + 1));
}

// A number beyond what can be kept is brought to the most that can, as the
// setting rows do at the end of an edit; other text stays for Save to judge.
void clampAtEndOfEdit(QLineEdit* field, quint32 max) {
    QObject::connect(field, &QLineEdit::editingFinished, field, [field, max] {
        const QString text = field->text().trimmed();
        const bool digits = !text.isEmpty() && std::all_of(text.begin(), text.end(),
                                                           [](QChar c) { return c.isDigit(); });
        if (!digits) return;
        bool ok = false;
        const qulonglong v = text.toULongLong(&ok, 10);
        if (!ok || v > max) field->setText(QString::number(max));  // !ok: too many digits
    });
}

}  // namespace

quint32 parseSeconds(const QString& text) {
    bool ok = false;
    const uint v = text.toUInt(&ok, 10);
    return ok ? quint32(v) : 0;
}

KvGeneralSetting::KvGeneralSetting(QWidget* parent)
    : QDialog(parent), ui(new Ui::KvGeneralSetting), config_(&AppConfig::instance()) {
    ui->setupUi(this);
    ui->tw_settings->tabBar()->hide();
    agent_ = new WindowFrameAgent(this);
    agent_->setup(this);
    agent_->setTitleBar(ui->widget_title_name);
    setAttribute(Qt::WA_TranslucentBackground);
    resize(646, 437);

    ui->le_default_file_path->setText(config_->output_raw_file_path);
    ui->le_default_video_file_path->setText(config_->video_save_path);
    ui->sb_trigger_in_rec_enable->setChecked(config_->dvs_trigger_in_rec_enable);

    ui->cb_trigger_in_edge->setEditable(false);
    for (const char* edge : kEdgeTypes)
        ui->cb_trigger_in_edge->comboBox()->addItem(tr(edge));
    // Anything but the two names is the default edge, as the program reads it.
    ui->cb_trigger_in_edge->comboBox()->setCurrentIndex(
        config_->dvs_trigger_in_rec_edge_type == kEdgeTypes[1] ? 1 : 0);

    ui->le_trigger_in_before_time->setText(
        QString::number(config_->dvs_before_tirgger_in_save_time));
    ui->le_trigger_in_after_time->setText(QString::number(config_->dvs_after_tirgger_in_save_time));
    clampAtEndOfEdit(ui->le_trigger_in_before_time, AppConfig::kMaxBeforeTriggerSeconds);
    clampAtEndOfEdit(ui->le_trigger_in_after_time, AppConfig::kMaxAfterTriggerSeconds);

    KVComboBoxBase* colors = ui->widget_combobox_color_theme->comboBox();
    ui->widget_combobox_color_theme->setEditable(false);
    // Shown translated; the stored name stays the English one.
    for (const char* theme : kThemeNames)
        colors->addItem(tr(theme), QString::fromLatin1(theme));
    const int stored = colors->findData(config_->dvs_color_type, Qt::UserRole, Qt::MatchExactly);
    if (stored >= 0) colors->setCurrentIndex(stored);

    ui->lw_general_setting_items->setCurrentRow(0);
}

KvGeneralSetting::~KvGeneralSetting() {
    delete ui;
}

void KvGeneralSetting::on_lw_general_setting_items_currentRowChanged(int currentRow) {
    ui->tw_settings->setCurrentIndex(currentRow);
}

QString KvGeneralSetting::refusal() const {
    const auto tooLarge = [](const QString& typed, quint64 max) {
        const QString text = typed.trimmed();
        bool ok = false;
        const qulonglong v = text.toULongLong(&ok, 10);
        // Digits beyond any number read as too large as well, not as 0.
        const bool digits = !text.isEmpty() && std::all_of(text.begin(), text.end(),
                                                           [](QChar c) { return c.isDigit(); });
        return ok ? v > max : digits;
    };
    if (tooLarge(ui->le_trigger_in_before_time->text(), AppConfig::kMaxBeforeTriggerSeconds))
        return tr("At most %1 seconds before the trigger can be kept.")
            .arg(AppConfig::kMaxBeforeTriggerSeconds);
    if (tooLarge(ui->le_trigger_in_after_time->text(), AppConfig::kMaxAfterTriggerSeconds))
        return tr("At most %1 seconds after the trigger can be recorded.")
            .arg(AppConfig::kMaxAfterTriggerSeconds);
    // Every edge would start a recording of nothing and report it as busy.
    if (ui->sb_trigger_in_rec_enable->isChecked() &&
        parseSeconds(ui->le_trigger_in_before_time->text()) == 0 &&
        parseSeconds(ui->le_trigger_in_after_time->text()) == 0)
        return tr("Trigger-in recording needs at least one second before or after the trigger.");
    return QString();
}

void KvGeneralSetting::report(const QString& text) {
    if (reportError_)
        reportError_(tr("General Settings"), text);
    else
        KVMessageBox(text, tr("General Settings"), tr("OK"), QString(), this).exec();
}

void KvGeneralSetting::on_pb_save_clicked() {
    if (const QString why = refusal(); !why.isEmpty()) {
        report(why);  // nothing is written; the dialog stays open to mend it
        return;
    }
    config_->video_save_path = ui->le_default_video_file_path->text();
    config_->output_raw_file_path = ui->le_default_file_path->text();
    config_->dvs_trigger_in_rec_enable = ui->sb_trigger_in_rec_enable->isChecked();
    config_->dvs_trigger_in_rec_edge_type =
        kEdgeTypes[ui->cb_trigger_in_edge->comboBox()->currentIndex() == 0 ? 0 : 1];
    config_->dvs_before_tirgger_in_save_time = parseSeconds(ui->le_trigger_in_before_time->text());
    config_->dvs_after_tirgger_in_save_time = parseSeconds(ui->le_trigger_in_after_time->text());
    // The theme whose shown name the box holds, stored by its English name.
    const QComboBox* themes = ui->widget_combobox_color_theme->comboBox();
    const int theme = themes->findText(themes->currentText(), Qt::MatchExactly);
    config_->dvs_color_type =
        theme >= 0 ? themes->itemData(theme).toString() : themes->currentText();
    const bool saved = config_->save();
    emit signalTriggerInSaveFileParamChanged();
    if (!saved) {
        // Closing as if saved would lose the settings at the next start unnoticed.
        qWarning().noquote() << "settings not saved:" << config_->lastSaveError();
        report(tr("The settings could not be saved to %1.").arg(config_->fileName()));
        return;
    }
    accept();
}

void KvGeneralSetting::on_pb_cancel_clicked() {
    reject();
}

void KvGeneralSetting::on_pb_win_close_clicked() {
    reject();
}

QString KvGeneralSetting::askDirectory(const QString& start) {
    const QString caption = tr("Select Directory");
    if (directoryDialog_) return directoryDialog_(caption, start);
    return QFileDialog::getExistingDirectory(
        this, caption, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

void KvGeneralSetting::on_pb_select_dir_clicked() {
    // Starts from the stored folder, not from what the field holds now.
    const QString dir = askDirectory(config_->output_raw_file_path);
    if (!dir.isEmpty()) ui->le_default_file_path->setText(dir);
}

void KvGeneralSetting::on_pb_select_video_save_path_clicked() {
    const QString dir = askDirectory(config_->video_save_path);
    if (!dir.isEmpty()) ui->le_default_video_file_path->setText(dir);
}

void KvGeneralSetting::on_pb_add_trigger_in_before_time_clicked() {
    step(ui->le_trigger_in_before_time, +1, AppConfig::kMaxBeforeTriggerSeconds);
}

void KvGeneralSetting::on_pb_add_trigger_in_after_time_clicked() {
    step(ui->le_trigger_in_after_time, +1, AppConfig::kMaxAfterTriggerSeconds);
}

void KvGeneralSetting::on_pb_sub_trigger_in_before_time_clicked() {
    step(ui->le_trigger_in_before_time, -1, AppConfig::kMaxBeforeTriggerSeconds);
}

void KvGeneralSetting::on_pb_sub_trigger_in_after_time_clicked() {
    step(ui->le_trigger_in_after_time, -1, AppConfig::kMaxAfterTriggerSeconds);
}
