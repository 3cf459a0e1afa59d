#include "KvGeneralSetting.h"

#include <QFileDialog>
#include <QTabBar>
#include <limits>

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

void step(QLineEdit* field, int delta) {
    const quint32 v = parseSeconds(field->text());
    // Held at the ends: no wrap from 0 down or from the top up.
    if (delta < 0 && v == 0) return;
    if (delta > 0 && v == std::numeric_limits<quint32>::max()) return;
    field->setText(QString::number(delta < 0 ? v - 1 : v + 1));
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
    ui->cb_trigger_in_edge->comboBox()->setCurrentIndex(
        config_->dvs_trigger_in_rec_edge_type == kEdgeTypes[0] ? 0 : 1);

    ui->le_trigger_in_before_time->setText(
        QString::number(config_->dvs_before_tirgger_in_save_time));
    ui->le_trigger_in_after_time->setText(QString::number(config_->dvs_after_tirgger_in_save_time));

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

void KvGeneralSetting::on_pb_save_clicked() {
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
        const QString text =
            tr("The settings could not be saved to %1.").arg(config_->app_data_dir + "/config.ini");
        if (reportError_)
            reportError_(tr("General Settings"), text);
        else
            KVMessageBox(text, tr("General Settings"), tr("OK"), QString(), this).exec();
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
    step(ui->le_trigger_in_before_time, +1);
}

void KvGeneralSetting::on_pb_add_trigger_in_after_time_clicked() {
    step(ui->le_trigger_in_after_time, +1);
}

void KvGeneralSetting::on_pb_sub_trigger_in_before_time_clicked() {
    step(ui->le_trigger_in_before_time, -1);
}

void KvGeneralSetting::on_pb_sub_trigger_in_after_time_clicked() {
    step(ui->le_trigger_in_after_time, -1);
}
