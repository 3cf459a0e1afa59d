// The main window's side bar: the three settings panels and their fold
// buttons, the display settings' wiring to the player, and the menu
// commands that open dialogs ("General Setting", "EN/中文", "About us").

#include <QApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <utility>

#include "AppConfig.h"
#include "AppPlatform.h"
#include "InitDialog.h"
#include "KVMessageBox.h"
#include "KvEventProcessor.h"
#include "KvFusionCameraDataProcessor.h"
#include "KvGeneralSetting.h"
#include "MainWidget.h"
#include "SidebarApsSettingUI.h"
#include "SidebarCameraSettingUI.h"
#include "SidebarDvsSettingUI.h"
#include "ui_MainWidget.h"

namespace {
constexpr int kPanelAreaWidth = 500;
// The narrowest panel area whose setting rows (name, minus, value, plus) and
// the calibration's "Apply" still show whole.
constexpr int kPanelAreaMinWidth = 330;
}  // namespace

void MainWidget::createSidePanels() {
    displayPanel_ = new SidebarCameraSettingUI(ui->frame_setting);
    dvsPanel_ = new SidebarDvsSettingUI(ui->frame_setting);
    apsPanel_ = new SidebarApsSettingUI(ui->frame_setting);
    for (QWidget* panel : {static_cast<QWidget*>(displayPanel_), static_cast<QWidget*>(dvsPanel_),
                           static_cast<QWidget*>(apsPanel_)})
        ui->layout_sidebar_setting->addWidget(panel);
    dvsPanel_->hide();
    apsPanel_->hide();
    // The panel area opens when a fold button is checked.
    ui->frame_setting->hide();

    askUser_ = [this](const QString& title, const QString& text, const QString& accept,
                      const QString& reject) {
        KVMessageBox box(text, title, accept, reject, this);
        return box.exec() == QDialog::Accepted;
    };
    startProgram_ = startProgramDetached;
    openUrl_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

void MainWidget::connectDisplayPanel() {
    KvEventProcessor* p = rawProcessor_;
    connect(displayPanel_, &SidebarCameraSettingUI::signalFpsChanged, p,
            [p](uint32_t fps) { p->setFps(int(fps)); });
    connect(displayPanel_, &SidebarCameraSettingUI::signalCumulativeTimeChanged, p,
            &KvEventProcessor::setAccTime);
    // Group 6: the fusion player plays at the same rate and window.
    KvFusionCameraDataProcessor* f = fusionProcessor_;
    connect(displayPanel_, &SidebarCameraSettingUI::signalFpsChanged, f,
            [f](uint32_t fps) { f->setFps(int(fps)); });
    connect(displayPanel_, &SidebarCameraSettingUI::signalCumulativeTimeChanged, f,
            &KvFusionCameraDataProcessor::setAccTime);
    // The live camera's batch
    // interval follows the accumulation time (direct: it is only a store and a call).
    connect(displayPanel_, &SidebarCameraSettingUI::signalCumulativeTimeChanged, this,
            &MainWidget::setCameraBatchInterval, Qt::DirectConnection);

    // Play what the panel shows from the first frame, not the player's own start values.
    displayPanel_->applyShownValues();
}

void MainWidget::resetPanelsForRecording() {
    apsPanel_->clearApsUI();
    dvsPanel_->clearToolUI();
    displayPanel_->setFrameRateEditable(true);
}

bool MainWidget::runSideBarCommand(const QString& englishTitle) {
    if (englishTitle == "About us") {
        openAboutPage();
    } else if (englishTitle == "EN/中文") {
        switchLanguage();
    } else if (englishTitle == "General Setting") {
        runGeneralSetting(nullptr);
    } else {
        return false;
    }
    return true;
}

// Index 0 display, 1 DVS, 2 APS: one panel at a time.
void MainWidget::showSidePanel(int index, bool checked) {
    QPushButton* buttons[] = {ui->pb_fold_setting, ui->pb_fold_dvs_setting,
                              ui->pb_fold_aps_setting};
    QWidget* panels[] = {displayPanel_, dvsPanel_, apsPanel_};
    if (checked) {
        for (int i = 0; i < 3; ++i) {
            panels[i]->setVisible(i == index);
            if (i != index) buttons[i]->setChecked(false);
        }
        ui->frame_setting->setMaximumWidth(kPanelAreaWidth);
        ui->frame_setting->setMinimumWidth(kPanelAreaMinWidth);
        ui->frame_setting->show();
    } else {
        panels[index]->hide();
        ui->frame_setting->setMaximumWidth(ui->widget_side_bar->width());
        ui->frame_setting->hide();
    }
}

void MainWidget::on_pb_fold_setting_clicked(bool checked) {
    showSidePanel(0, checked);
}

void MainWidget::on_pb_fold_dvs_setting_clicked(bool checked) {
    showSidePanel(1, checked);
}

void MainWidget::on_pb_fold_aps_setting_clicked(bool checked) {
    showSidePanel(2, checked);
}

void MainWidget::on_pb_fold_general_setting_clicked() {
    runGeneralSetting(this);
    ui->pb_fold_general_setting->setChecked(false);
}

void MainWidget::runGeneralSetting(QWidget* parent) {
    KvGeneralSetting dialog(parent);
    connect(&dialog, &KvGeneralSetting::signalTriggerInSaveFileParamChanged, this,
            &MainWidget::initDvsCameraSettings);
    dialog.exec();
}

void MainWidget::switchLanguage() {
    if (!askUser_(tr("Tips"), tr("The language change will take effect after restart."),
                  tr("Restart"), tr("Later")))
        return;
    const QString previous = config_->language;
    config_->language = previous == "en" ? "zh" : "en";
    // The new instance opens again what is open now, where it is now.
    rememberLayout();
    const bool recording =
        sourceKind_ == SourceKind::DvsRecording || sourceKind_ == SourceKind::FusionRecording;
    config_->reopen_recording = recording ? openRecording_ : QString();
    if (!config_->save()) {
        // The new instance would read the old language: say so and stay.
        config_->language = previous;
        config_->reopen_recording.clear();
        qWarning().noquote() << "language not switched:" << config_->lastSaveError();
        emit signalShowLeftBottomTips(
            tr("The settings could not be saved, so the language stays as it is."),
            KvMessageType::Error, config_->fileName());
        return;
    }
    QApplication::closeAllWindows();
    // A window that refused to close keeps this instance running; a second
    // one would then run beside it.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        if (w->isVisible() && type != Qt::ToolTip && type != Qt::Popup) {
            qWarning() << "restart skipped: a window is still open";
            return;
        }
    }
    if (!startProgram_(QCoreApplication::applicationFilePath()))
        qWarning() << "restart failed: the program could not be started";
}

void MainWidget::rememberLayout() {
    config_->window_geometry = QString::fromLatin1(saveGeometry().toBase64());
    const QPushButton* buttons[] = {ui->pb_fold_setting, ui->pb_fold_dvs_setting,
                                    ui->pb_fold_aps_setting};
    config_->window_panel = -1;
    for (int i = 0; i < 3; ++i)
        if (buttons[i]->isChecked()) config_->window_panel = i;
}

void MainWidget::restoreLayout() {
    if (!config_->window_geometry.isEmpty() &&
        restoreGeometry(QByteArray::fromBase64(config_->window_geometry.toLatin1())))
        layoutRestored_ = !isVisible();
    QPushButton* buttons[] = {ui->pb_fold_setting, ui->pb_fold_dvs_setting,
                              ui->pb_fold_aps_setting};
    if (config_->window_panel >= 0 && config_->window_panel < 3) {
        buttons[config_->window_panel]->setChecked(true);
        showSidePanel(config_->window_panel, true);
    }
}

void MainWidget::reopenAfterRestart() {
    const QString again = std::exchange(config_->reopen_recording, QString());
    if (!again.isEmpty() && QFileInfo(again).isFile()) openRecordingPath(again);
}

QString MainWidget::writeAboutPage(const QString& directoryOrEmpty) {
    // Without a data directory (no writable location), the page goes to the temporary one.
    const QString directory = directoryOrEmpty.isEmpty() ? QDir::tempPath() : directoryOrEmpty;
    QFile source(":/about/about.html");
    if (!source.open(QIODevice::ReadOnly)) return QString();
    QString page = QString::fromUtf8(source.readAll());
    page.replace("@VERSION@", InitDialog::kVersion);
    page.replace("@PROGRAM@", QCoreApplication::applicationFilePath().toHtmlEscaped());
    page.replace("@CONFIG@", QDir(directory).filePath("config.ini").toHtmlEscaped());
    const QString path = QDir(directory).filePath("about.html");
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(page.toUtf8()) < 0 || !out.commit())
        return QString();
    return path;
}

QString MainWidget::aboutText() {
    return tr("Velqora, version %1").arg(InitDialog::kVersion) + "\n" +
           tr("Event camera viewer and recorder by Korvane.") + "\n\n" +
           tr("The about page (licence, program and settings files) opens in your browser.") +
           "\n" + tr("Is it open in the browser?");
}

void MainWidget::openAboutPage() {
    // The version is told here, whether or not the page is opened.
    if (!askUser_(tr("Tips"), aboutText(), tr("Open"), tr("Close"))) return;
    const QString page = writeAboutPage(config_->app_data_dir);
    if (page.isEmpty() || !openUrl_(QUrl::fromLocalFile(page)))
        qWarning() << "about page could not be opened";
}
