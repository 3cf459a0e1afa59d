#include "MainWidget.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QSplitter>

#include "AppConfig.h"
#include "KvEventProcessor.h"
#include "KvFilePathReminderForm.h"
#include "KvThreeHandleSlider.h"
#include "KvToolTip.h"
#include "ShowImageForm.h"
#include "WaitingWin.h"
#include "WindowFrameAgent.h"
#include "ui_MainWidget.h"

namespace {

// The titled actions, in English; their shown texts are translated.
const char* const kActionTitles[] = {
    QT_TRANSLATE_NOOP("MainWidget", "Open Camera"),
    QT_TRANSLATE_NOOP("MainWidget", "Camera Info"),
    QT_TRANSLATE_NOOP("MainWidget", "Open Recording"),
    QT_TRANSLATE_NOOP("MainWidget", "Save as..."),
    QT_TRANSLATE_NOOP("MainWidget", "Cut Recording"),
    QT_TRANSLATE_NOOP("MainWidget", "Quit"),
    QT_TRANSLATE_NOOP("MainWidget", "General Setting"),
    QT_TRANSLATE_NOOP("MainWidget", "EN/中文"),
    QT_TRANSLATE_NOOP("MainWidget", "About us"),
    QT_TRANSLATE_NOOP("MainWidget", "Toggle Start/End Point"),
};

struct TipSpec {
    const char* button;
    const char* text;
};
const TipSpec kPlayBarTips[] = {
    {"pb_play", QT_TRANSLATE_NOOP("MainWidget", "Play/Stop")},
    {"pb_record", QT_TRANSLATE_NOOP("MainWidget", "Start/Stop recording")},
    {"pb_prv", QT_TRANSLATE_NOOP("MainWidget", "Previous frame")},
    {"pb_next", QT_TRANSLATE_NOOP("MainWidget", "Next frame")},
    {"pb_stop", QT_TRANSLATE_NOOP("MainWidget", "Reset the playback progress to the beginning")},
    {"pb_loop",
     QT_TRANSLATE_NOOP("MainWidget", "Select to automatically replay at the end of the playback")},
};

QIcon iconSet(const QString& base) {
    QIcon icon;
    icon.addFile(":/img/assets/" + base + ".svg", QSize(), QIcon::Normal, QIcon::Off);
    icon.addFile(":/img/assets/" + base + "_hover.svg", QSize(), QIcon::Active, QIcon::Off);
    icon.addFile(":/img/assets/" + base + "_hover.svg", QSize(), QIcon::Normal, QIcon::On);
    icon.addFile(":/img/assets/" + base + "_disable.svg", QSize(), QIcon::Disabled, QIcon::Off);
    return icon;
}

}  // namespace

QString formatTimestamp(uint64_t timestamp_us) {
    return QString("%1:%2:%3")
        .arg(timestamp_us / 60000000, 2, 10, QChar('0'))
        .arg(timestamp_us / 1000000 % 60, 2, 10, QChar('0'))
        .arg(timestamp_us % 1000000, 6, 10, QChar('0'));
}

MainWidget::MainWidget(QWidget* parent) : QWidget(parent), ui(new Ui::MainWidget) {
    // 1. The form and its frame.
    ui->setupUi(this);
    frameAgent_ = new WindowFrameAgent(this);
    frameAgent_->setup(this);
    frameAgent_->setTitleBar(ui->widget_title_space);
    frameAgent_->setSystemButton(WindowFrameAgent::WindowIcon, ui->pb_logo_button);
    frameAgent_->setSystemButton(WindowFrameAgent::Minimize, ui->pb_win_min);
    frameAgent_->setSystemButton(WindowFrameAgent::Maximize, ui->pb_win_max);
    frameAgent_->setSystemButton(WindowFrameAgent::Close, ui->pb_win_close);
    resize(1000, 650);
    setMinimumSize(1000, 650);
    setFocusPolicy(Qt::StrongFocus);

    // 2. Action titles, then the processors (fusion and recorder plug in here).
    for (const char* title : kActionTitles) {
        auto* a = new QAction(this);
        a->setProperty("englishTitle", QString::fromUtf8(title));
        actions_ << a;
    }
    rawProcessor_ = new KvEventProcessor();

    // 3. Timeline and waiting window.
    timeline_ = new KvThreeHandleSlider(this, Qt::Horizontal, KvThreeHandleSlider::SingleHandle);
    timeline_->setEnabled(false);
    timeline_->setCenterValue(0);
    ui->layout_time_slider->addWidget(timeline_);
    waiting_ = new WaitingWin(ui->widget_show_image);
    waiting_->close();

    // 4. Splitter, shadows, play-bar tips.
    ui->splitter->setContentsMargins(10, 10, 10, 10);
    ui->splitter->setStretchFactor(0, 1);
    ui->splitter->setStretchFactor(1, 10);
    for (QWidget* frame :
         {static_cast<QWidget*>(ui->frame_setting), static_cast<QWidget*>(ui->frame_main)}) {
        auto* shadow = new QGraphicsDropShadowEffect(frame);
        shadow->setOffset(0, 3);
        shadow->setColor(QColor(0, 0, 0, 41));
        shadow->setBlurRadius(6);
        frame->setGraphicsEffect(shadow);
    }
    for (const TipSpec& tip : kPlayBarTips) {
        auto* anchor = findChild<QWidget*>(tip.button);
        auto* t = new KvToolTip(tr(tip.text), 0, this);
        t->setObjectName(QString("tip_") + tip.button);
        t->installOn(anchor);
    }

    // 5-6. Menus.
    createMenus();
    retranslate();
    // 7. Side-bar panels.
    createSidePanels();

    // 8. Connections, 9. configuration.
    initConnections();
    config_ = &AppConfig::instance();
    applyViewerTypeIcon();
}

MainWidget::~MainWidget() {
    delete rawProcessor_;
    delete waiting_;
    delete ui;
}

QAction* MainWidget::action(const QString& englishTitle) const {
    for (QAction* a : actions_)
        if (a->property("englishTitle").toString() == englishTitle) return a;
    return nullptr;
}

QMenu* MainWidget::newMenu() {
    auto* menu = new QMenu(this);
    menu->setWindowFlags(menu->windowFlags() | Qt::FramelessWindowHint |
                         Qt::NoDropShadowWindowHint);
    menu->setAttribute(Qt::WA_TranslucentBackground);
    return menu;
}

void MainWidget::createMenus() {
    viewerSettingMenu_ = newMenu();
    toggleStartEnd_ = action("Toggle Start/End Point");
    toggleStartEnd_->setCheckable(true);
    viewerSettingMenu_->addAction(toggleStartEnd_);
    viewerSettingMenu_->addSeparator();
    connect(toggleStartEnd_, &QAction::triggered, this, &MainWidget::slotStartEndPointEditable);

    fileMenu_ = newMenu();
    fileMenu_->addAction(action("Open Recording"));
    fileMenu_->addSeparator();
    fileMenu_->addAction(action("Save as..."));
    fileMenu_->addAction(action("Cut Recording"));
    fileMenu_->addSeparator();
    fileMenu_->addAction(action("Quit"));
    deviceMenu_ = newMenu();
    deviceMenu_->addAction(action("Open Camera"));
    deviceMenu_->addSeparator();
    deviceMenu_->addAction(action("Camera Info"));
    settingMenu_ = newMenu();
    settingMenu_->addAction(action("General Setting"));
    settingMenu_->addAction(action("EN/中文"));
    helpMenu_ = newMenu();
    helpMenu_->addAction(action("About us"));
    ui->pb_menu_file->setMenu(fileMenu_);
    ui->pb_menu_device->setMenu(deviceMenu_);
    ui->pb_menu_setting->setMenu(settingMenu_);
    ui->pb_menu_help->setMenu(helpMenu_);

    connect(action("Open Recording"), &QAction::triggered, this, &MainWidget::slotOpenRecording);
    for (QMenu* menu : {fileMenu_, deviceMenu_, settingMenu_, helpMenu_}) {
        connect(menu, &QMenu::triggered, this, &MainWidget::openActionSlot);
    }
}

void MainWidget::retranslate() {
    for (QAction* a : actions_)
        a->setText(tr(a->property("englishTitle").toByteArray().constData()));
    for (const TipSpec& tip : kPlayBarTips) {
        if (auto* t = findChild<KvToolTip*>(QString("tip_") + tip.button)) t->setText(tr(tip.text));
    }
}

void MainWidget::initConnections() {
    // 1. Types carried by queued connections.
    qRegisterMetaType<QPixmap*>("QPixmap*");
    qRegisterMetaType<QPixmap>("QPixmap");
    qRegisterMetaType<QImage>("QImage");
    qRegisterMetaType<KvMessageType>("KvMessageType");
    qRegisterMetaType<korvane::STREAM_TYPE>("korvane::STREAM_TYPE");
    qRegisterMetaType<uint64_t>("uint64_t");

    // 2. Own signals to own slots (the live-view pair arrives with the camera).
    connect(this, &MainWidget::resetShowCameraFormTitle, this, &MainWidget::setShowTitleInfo);
    connect(this, &MainWidget::toShowCameraSerial, this, &MainWidget::showCameraSerial);

    // 4. RAW playback processor.
    KvEventProcessor* p = rawProcessor_;
    connect(this, &MainWidget::signalOpenRawFile, p, &KvEventProcessor::loadFile);
    connect(p, &KvEventProcessor::signalLoadingStatus, this, &MainWidget::slotSetWaitWinStatus);
    connect(p, &KvEventProcessor::signalEventImage, ui->widget_show_image,
            &ShowImageForm::slotShowImage);
    connect(p, &KvEventProcessor::signalRealTimeTimeStamp, this, &MainWidget::showTimeStamp);
    connect(p, &KvEventProcessor::signalStartTimeStamp, timeline_,
            &KvThreeHandleSlider::setMinimum);
    connect(p, &KvEventProcessor::signalEndTimeStamp, timeline_, &KvThreeHandleSlider::setMaximum);
    connect(p, &KvEventProcessor::signalPlayStatus, ui->pb_play, &QPushButton::setChecked);
    connect(ui->pb_play, &QPushButton::toggled, p, &KvEventProcessor::slotPlaybackCtrl);
    connect(ui->pb_prv, &QPushButton::pressed, p, &KvEventProcessor::preFrame);
    connect(ui->pb_next, &QPushButton::pressed, p, &KvEventProcessor::nextFrame);
    connect(ui->pb_stop, &QPushButton::pressed, p, &KvEventProcessor::slotPlaybackReset);
    connect(ui->pb_loop, &QPushButton::toggled, p, &KvEventProcessor::slotPlayLoop);
    connect(timeline_, &KvThreeHandleSlider::centerValueMove, p, &KvEventProcessor::setPlayPos);
    connect(timeline_, &KvThreeHandleSlider::centerValueTrackClick, p,
            &KvEventProcessor::setPlayPos);
    connect(timeline_, &KvThreeHandleSlider::lowerValueChanged, p,
            &KvEventProcessor::slotSetLowerTimeStamp);
    connect(timeline_, &KvThreeHandleSlider::upperValueChanged, p,
            &KvEventProcessor::slotSetUpperTimeStamp);
    connect(p, &KvEventProcessor::signalShowLeftBottomTips, this,
            &MainWidget::slotShowLeftBottomTips);
    connectExportAndCut();

    // 6. Display settings.
    connectDisplayPanel();

    // 7. Notices of the window itself, always on a later turn of the loop.
    connect(this, &MainWidget::signalShowLeftBottomTips, this, &MainWidget::slotShowLeftBottomTips,
            Qt::QueuedConnection);
}

void MainWidget::openActionSlot(QAction* action) {
    const QString title = action ? action->property("englishTitle").toString() : QString();
    if (title == "Open Camera" || title == "Open Recording") return;
    if (title == "Quit") {
        close();
        return;
    }
    if (title == "Save as...") return slotSaveAs();
    if (title == "Cut Recording") return slotCutRecording();
    runSideBarCommand(title);
}

void MainWidget::slotOpenRecording() {
    if (refuseWhileJobRuns()) return;
    const QString caption = tr("Select a raw file");
    const QString filter = tr("RAW files (*.raw)");
    const QString path =
        openFileDialog_
            ? openFileDialog_(caption, config_->input_raw_file_path, filter)
            : QFileDialog::getOpenFileName(nullptr, caption, config_->input_raw_file_path, filter);
    if (path.isEmpty()) return;
    // (A streaming camera is stopped and released here once cameras exist.)
    resetPanelsForRecording();
    const QFileInfo file(path);
    config_->input_raw_file_path = file.absolutePath();
    const QString video = QString("%1/%2.mp4").arg(file.absolutePath(), file.completeBaseName());
    if (QFileInfo::exists(video)) {
        sourceKind_ = SourceKind::FusionRecording;
        emit signalOpenRawFile(QString());
        emit signalOpenFusionFile(video);
    } else {
        sourceKind_ = SourceKind::DvsRecording;
        emit signalOpenRawFile(path);
        emit signalOpenFusionFile(QString());
    }
    for (QWidget* w : {static_cast<QWidget*>(ui->pb_loop), static_cast<QWidget*>(ui->pb_next),
                       static_cast<QWidget*>(ui->pb_prv), static_cast<QWidget*>(ui->pb_stop),
                       static_cast<QWidget*>(timeline_)}) {
        w->setEnabled(true);
    }
}

void MainWidget::setShowTitleInfo(bool) {
    ui->label_show_camera_info->clear();
    ui->label_show_timestamp_info->clear();
}

void MainWidget::showCameraSerial(QString str) {
    ui->label_show_camera_info->setText(str);
}

void MainWidget::showTimeStamp(uint64_t timestamp_us) {
    ui->label_show_timestamp_info->setText(formatTimestamp(timestamp_us));
    if (sourceKind_ == SourceKind::DvsRecording || sourceKind_ == SourceKind::FusionRecording) {
        timeline_->setCenterValue(timestamp_us);
        ui->label_time->setText(formatTimestamp(timestamp_us) + "/" +
                                formatTimestamp(timeline_->upperValue()));
    }
}

void MainWidget::on_pb_win_min_clicked() {
    showMinimized();
}

void MainWidget::on_pb_win_max_clicked() {
    if (!isMaximized()) {
        showMaximized();
        setTitleBarCorners(true);
    } else {
        showNormal();
        setTitleBarCorners(false);
    }
}

void MainWidget::setTitleBarCorners(bool maximized) {
    const int r = maximized ? 0 : 6;
    ui->widget_title_bar->setStyleSheet(
        QString("#widget_title_bar { background-color: #004B6A; border-top-left-radius: %1px; "
                "border-top-right-radius: %1px; border-bottom-left-radius: 0px; "
                "border-bottom-right-radius: 0px; border-bottom: 1px solid #AAAAAA; }")
            .arg(r));
    ui->pb_win_max->setIcon(
        QIcon(maximized ? ":/img/assets/btn_win_restore.svg" : ":/img/assets/btn_win_max.svg"));
}

void MainWidget::on_pb_win_close_clicked() {
    close();
}

void MainWidget::on_pb_viewer_setting_clicked(bool checked) {
    if (!checked) return;
    const QSize menuHint = viewerSettingMenu_->sizeHint();
    const QPoint at =
        ui->pb_viewer_setting->mapToGlobal(QPoint(0, 0)) +
        QPoint(ui->pb_viewer_setting->sizeHint().width() - menuHint.width(), -menuHint.height());
    viewerSettingMenu_->exec(at);
    ui->pb_viewer_setting->setChecked(false);
}

void MainWidget::slotStartEndPointEditable(bool en) {
    timeline_->setHandleMode(en ? KvThreeHandleSlider::ThreeHandles
                                : KvThreeHandleSlider::SingleHandle);
    timeline_->update();
}

void MainWidget::applyViewerTypeIcon() {
    static const char* const kBases[] = {"btn_viewer_dvs", "btn_viewer_aps", "btn_viewer_fusion"};
    ui->pb_viewer_type->setIcon(iconSet(kBases[int(viewerType_)]));
}

void MainWidget::on_pb_viewer_type_clicked() {
    viewerType_ = korvane::STREAM_TYPE((int(viewerType_) + 1) % 3);
    applyViewerTypeIcon();
    emit signalSetViewerShowType(viewerType_);
}

void MainWidget::slotShowLeftBottomTips(QString tips, KvMessageType type, QString file_path) {
    const QString directory =
        file_path.isEmpty() ? QString() : KvFilePathReminderForm::resolveDirectory(file_path);
    auto* toast = new KvFilePathReminderForm(tips, type, directory);
    toast->move(x(), y() + height() - toast->height());
    toast->show();
}

void MainWidget::slotSetWaitWinStatus(bool en) {
    if (en) {
        waiting_->show();
    } else {
        waiting_->close();
    }
}

void MainWidget::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space:
            ui->pb_play->setChecked(!ui->pb_play->isChecked());
            break;
        case Qt::Key_Left:
            emit ui->pb_prv->pressed();
            break;
        case Qt::Key_Right:
            emit ui->pb_next->pressed();
            break;
        default:
            QWidget::keyPressEvent(event);
            break;
    }
}

void MainWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (isMaximized()) return;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.width() / 2 - width() / 2, area.height() / 2 - height() / 2);
    }
}

void MainWidget::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (waiting_) waiting_->recenter();
}

void MainWidget::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        retranslate();
    }
    QWidget::changeEvent(event);
}
