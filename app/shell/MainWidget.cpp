#include "MainWidget.h"

#include <utility>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QTextEdit>
#include <QUrl>
#include <algorithm>

#include "AppConfig.h"
#include "KvEventProcessor.h"
#include "KvFilePathReminderForm.h"
#include "KvFusionCameraDataProcessor.h"
#include "KvLabelElider.h"
#include "KvThreeHandleSlider.h"
#include "KvToolTip.h"
#include "RecentRecordings.h"
#include "ShowImageForm.h"
#include "WaitingWin.h"
#include "WindowFrameAgent.h"
#include "WindowTranslucency.h"
#include "kvfilerecorder.h"
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
    QT_TRANSLATE_NOOP("MainWidget", "Go to Range Start"),
    QT_TRANSLATE_NOOP("MainWidget", "Go to Range End"),
    QT_TRANSLATE_NOOP("MainWidget", "Full Screen"),
};

// Keys of the titled actions that have one; shown beside them in the menus.
struct ShortcutSpec {
    const char* title;
    QKeySequence keys;
};
const ShortcutSpec kShortcuts[] = {
    {"Open Recording", QKeySequence(Qt::CTRL | Qt::Key_O)},
    {"Quit", QKeySequence(Qt::CTRL | Qt::Key_Q)},
    {"Go to Range Start", QKeySequence(Qt::Key_Home)},
    {"Go to Range End", QKeySequence(Qt::Key_End)},
    {"Full Screen", QKeySequence(Qt::Key_F11)},
};

// The one local .raw file a drag carries, or empty.
QString droppedRecording(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return QString();
    const QUrl url = mime->urls().first();
    if (!url.isLocalFile()) return QString();
    const QString path = url.toLocalFile();
    return QFileInfo(path).suffix().compare("raw", Qt::CaseInsensitive) == 0 ? path : QString();
}

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
    // The side bar's icon buttons say what they open.
    {"pb_fold_setting", QT_TRANSLATE_NOOP("MainWidget", "Display settings")},
    {"pb_fold_dvs_setting", QT_TRANSLATE_NOOP("MainWidget", "Event sensor (DVS) settings")},
    {"pb_fold_aps_setting", QT_TRANSLATE_NOOP("MainWidget", "Frame sensor (APS) settings")},
    {"pb_fold_general_setting", QT_TRANSLATE_NOOP("MainWidget", "General settings")},
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

static_assert(MainWidget::kRecentCount == RecentRecordings::kCount);

QString formatEventRate(double events_per_second) {
    if (events_per_second >= 1e6)
        return QString("%1 Mev/s").arg(events_per_second / 1e6, 0, 'f', 2);
    if (events_per_second >= 1e3)
        return QString("%1 kev/s").arg(events_per_second / 1e3, 0, 'f', 1);
    return QString("%1 ev/s").arg(events_per_second, 0, 'f', 0);
}

QString formatTimestamp(uint64_t timestamp_us) {
    return QString("%1:%2:%3")
        .arg(timestamp_us / 60000000, 2, 10, QChar('0'))
        .arg(timestamp_us / 1000000 % 60, 2, 10, QChar('0'))
        .arg(timestamp_us % 1000000, 6, 10, QChar('0'));
}

MainWidget::MainWidget(QWidget* parent) : QWidget(parent), ui(new Ui::MainWidget) {
    // The frame agent takes the form's title bar and buttons: the form comes first.
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
    setAcceptDrops(true);
    qApp->installEventFilter(this);

    // Actions are found by their English title, which no translation changes.
    for (const char* title : kActionTitles) {
        auto* a = new QAction(this);
        a->setProperty("englishTitle", QString::fromUtf8(title));
        actions_ << a;
    }
    fusionProcessor_ = new KvFusionCameraDataProcessor();
    rawProcessor_ = new KvEventProcessor();
    recorder_ = new KvFileRecorder(nullptr);
    // The processors and the recorder know nothing of the configuration.
    AppConfig* config = &AppConfig::instance();
    const ThemeSource theme = [config] { return config->theme(); };
    fusionProcessor_->setThemeSource(theme);
    fusionProcessor_->setCalibrationFolder([config] { return config->input_raw_file_path; });
    rawProcessor_->setThemeSource(theme);
    recorder_->setDataFolder(config->app_data_dir);
    live_ = new LiveCameraController(rawProcessor_, recorder_);
    fusion_ = new FusionCameraController(fusionProcessor_);

    // The timeline stays disabled until a recording gives it bounds.
    timeline_ = new KvThreeHandleSlider(this, Qt::Horizontal, KvThreeHandleSlider::SingleHandle);
    timeline_->setEnabled(false);
    timeline_->setCenterValue(0);
    ui->layout_time_slider->addWidget(timeline_);
    waiting_ = new WaitingWin(ui->widget_show_image);
    waiting_->close();
    // A long status line (a fusion camera's drop counts) is cut short
    // rather than drawn over the camera and time labels beside it.
    KvLabelElider::install(ui->lb_status_bar);
    ui->lb_status_bar->setContentsMargins(0, 0, 12, 0);
    // The range numbers too, beside the play bar with a panel open.
    KvLabelElider::install(ui->label_range);

    // Each play-bar tip is named after its button, so retranslate() finds it again.
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

    // Menus hold the actions made above; retranslate() gives both their texts.
    createMenus();
    retranslate();
    // The side-bar panels join the layout before the connections that feed them.
    createSidePanels();

    // Connections last: every object they join exists by now.
    initConnections();
    config_ = &AppConfig::instance();
    applyViewerTypeIcon();
}

MainWidget::~MainWidget() {
    qApp->removeEventFilter(this);
    shutdownCamera(false);
    // The controllers' threads and callbacks use the processors and the recorder: they go first.
    delete live_;
    delete fusion_;
    delete recorder_;
    delete rawProcessor_;
    delete fusionProcessor_;
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
    if (translucentWindowsAvailable()) {
        menu->setAttribute(Qt::WA_TranslucentBackground);
    } else {
        // Without a compositor rounded corners come out black: square ones.
        menu->setStyleSheet("QMenu { border-radius: 0px; }");
    }
    return menu;
}

void MainWidget::createMenus() {
    viewerSettingMenu_ = newMenu();
    toggleStartEnd_ = action("Toggle Start/End Point");
    toggleStartEnd_->setCheckable(true);
    viewerSettingMenu_->addAction(toggleStartEnd_);
    viewerSettingMenu_->addSeparator();
    connect(toggleStartEnd_, &QAction::triggered, this, &MainWidget::slotStartEndPointEditable);
    viewerSettingMenu_->addAction(action("Go to Range Start"));
    viewerSettingMenu_->addAction(action("Go to Range End"));
    viewerSettingMenu_->addSeparator();
    viewerSettingMenu_->addAction(action("Full Screen"));
    connect(action("Go to Range Start"), &QAction::triggered, this, [this] {
        if (ui->pb_stop->isEnabled()) emit ui->pb_stop->pressed();
    });
    connect(action("Go to Range End"), &QAction::triggered, this, &MainWidget::goToRangeEnd);
    connect(action("Full Screen"), &QAction::triggered, this, &MainWidget::slotToggleFullScreen);
    // Shortcuts work with the menus closed, so the window holds the actions too.
    for (const ShortcutSpec& k : kShortcuts) {
        QAction* a = action(k.title);
        a->setShortcut(k.keys);
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
    }

    fileMenu_ = newMenu();
    fileMenu_->addAction(action("Open Recording"));
    recentMenu_ = newMenu();
    fileMenu_->addMenu(recentMenu_);
    recent_ = new RecentRecordings(recentMenu_, &AppConfig::instance().recent_recordings, this);
    connect(recent_, &RecentRecordings::chosen, this, &MainWidget::openRecordingPath);
    connect(recent_, &RecentRecordings::missing, this, &MainWidget::slotRecentMissing);
    connect(recent_, &RecentRecordings::notAFile, this, [this](const QString& path) {
        emit signalShowLeftBottomTips(
            tr("%1 cannot be opened: it is not a regular file; it was removed from the recent "
               "recordings.")
                .arg(QFileInfo(path).fileName()),
            KvMessageType::Warning, path);
    });
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
    // The open menu holds the pointer, so its button never hears the pointer
    // leave and would stay highlighted: it is told where the pointer is.
    for (QPushButton* button :
         {ui->pb_menu_file, ui->pb_menu_device, ui->pb_menu_setting, ui->pb_menu_help}) {
        connect(button->menu(), &QMenu::aboutToHide, button, [button] {
            const bool under = button->isVisible() &&
                               button->rect().contains(button->mapFromGlobal(QCursor::pos()));
            button->setAttribute(Qt::WA_UnderMouse, under);
            button->update();
        });
    }

    connect(action("Open Recording"), &QAction::triggered, this, &MainWidget::slotOpenRecording);
    connect(action("Open Camera"), &QAction::triggered, this, &MainWidget::slotOpenCamera);
    for (QMenu* menu : {fileMenu_, deviceMenu_, settingMenu_, helpMenu_}) {
        connect(menu, &QMenu::triggered, this, &MainWidget::openActionSlot);
    }
}

void MainWidget::retranslate() {
    for (QAction* a : actions_)
        a->setText(tr(a->property("englishTitle").toByteArray().constData()));
    if (recentMenu_) recentMenu_->setTitle(tr("Recent recordings"));
    updateTitle();
    updateRangeLabel();
    if (sourceKind_ == SourceKind::Nothing) ui->lb_status_bar->clear();
    updateInfoLabels();
    for (const TipSpec& tip : kPlayBarTips) {
        if (auto* t = findChild<KvToolTip*>(QString("tip_") + tip.button)) t->setText(tr(tip.text));
    }
}

void MainWidget::initConnections() {
    // Types that cross threads in queued signals, registered before any connection.
    qRegisterMetaType<QPixmap*>("QPixmap*");
    qRegisterMetaType<QPixmap>("QPixmap");
    qRegisterMetaType<QImage>("QImage");
    qRegisterMetaType<KvMessageType>("KvMessageType");
    qRegisterMetaType<korvane::STREAM_TYPE>("korvane::STREAM_TYPE");
    qRegisterMetaType<uint64_t>("uint64_t");
    qRegisterMetaType<uint32_t>("uint32_t");

    // The window's own signals to its own slots; the live thread's frame requests arrive queued.
    connect(this, &MainWidget::triggerEventsToShow, this, &MainWidget::getEventsToShow,
            Qt::QueuedConnection);
    connect(this, &MainWidget::setShowCameraLiveUI, this, &MainWidget::showCameraPlayingUI);
    connect(this, &MainWidget::resetShowCameraFormTitle, this, &MainWidget::setShowTitleInfo);
    connect(this, &MainWidget::toShowCameraSerial, this, &MainWidget::showCameraSerial);

    // RAW playback: the processor's worker threads reach these slots queued.
    KvEventProcessor* p = rawProcessor_;
    connect(this, &MainWidget::signalOpenRawFile, p, &KvEventProcessor::loadFile);
    connect(p, &KvEventProcessor::signalLoadingStatus, this, &MainWidget::slotSetWaitWinStatus);
    // A frame painted before the view was closed or handed to a fusion
    // source can arrive after that: it no longer belongs in the view.
    connect(p, &KvEventProcessor::signalEventImage, this, [this](const QImage& image) {
        if (sourceKind_ == SourceKind::DvsRecording || sourceKind_ == SourceKind::DvsCamera)
            ui->widget_show_image->slotShowImage(image);
    });
    // Queued even from the GUI thread: a seek's position must not overtake
    // the positions the stopped playback thread had already sent.
    connect(p, &KvEventProcessor::signalRealTimeTimeStamp, this, &MainWidget::showTimeStamp,
            Qt::QueuedConnection);
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
    connect(p, &KvEventProcessor::signalRecordingOpened, this, &MainWidget::slotRecordingOpened);
    // Queued: it clears the picture after any frame of the old recording.
    connect(p, &KvEventProcessor::signalLoadFailed, this, &MainWidget::slotLoadFailed,
            Qt::QueuedConnection);
    connect(p, &KvEventProcessor::signalLoadProgress, waiting_, &WaitingWin::setProgress);
    connect(p, &KvEventProcessor::signalEventRate, this, &MainWidget::slotShowEventRate);
    for (auto changed :
         {&KvThreeHandleSlider::lowerValueChanged, &KvThreeHandleSlider::upperValueChanged}) {
        connect(timeline_, changed, this, &MainWidget::updateRangeLabel);
    }
    connect(timeline_, &KvThreeHandleSlider::rangeChanged, this, &MainWidget::updateRangeLabel);
    connectExportAndCut();
    // Fusion recordings and the fusion camera.
    connectFusionProcessor();
    connectCameraControllers();

    // Trigger-in recordings.
    connect(this, &MainWidget::signalRecByTime, recorder_, &KvFileRecorder::recordingTime,
            Qt::QueuedConnection);
    connect(recorder_, &KvFileRecorder::signalShowLeftBottomTips, this,
            &MainWidget::slotShowLeftBottomTips, Qt::QueuedConnection);

    // What the display panel shows is what plays.
    connectDisplayPanel();

    // The window's own notices, always on a later turn of the loop.
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
    if (title == "Camera Info") return slotShowCameraInfo();
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
    openRecordingPath(path);
}

void MainWidget::openRecordingPath(const QString& path) {
    // Drop and Recent come here without the dialog's check.
    if (refuseWhileJobRuns()) return;
    // A file that cannot be opened leaves whatever is open as it is.
    const QString reason = KvEventProcessor::unplayableReason(path);
    if (!reason.isEmpty()) {
        emit signalShowLeftBottomTips(
            KvEventProcessor::tr("Cannot play %1: %2.").arg(QFileInfo(path).fileName(), reason),
            KvMessageType::Error, path);
        return;
    }
    if (!confirmStopRecording()) return;
    shutdownCamera(true);
    showCameraPlayingUI(false);
    resetPanelsForRecording();
    // The camera's figures and serial say nothing about the recording.
    statisticsText_.clear();
    ui->lb_status_bar->clear();
    ui->label_show_camera_info->clear();
    updateInfoLabels();
    const QFileInfo file(path);
    config_->input_raw_file_path = file.absolutePath();
    const QString video = QString("%1/%2.mp4").arg(file.absolutePath(), file.completeBaseName());
    if (QFileInfo::exists(video)) {
        sourceKind_ = SourceKind::FusionRecording;
        // The button and the processor agree on the view: the overlay first.
        viewerType_ = korvane::STREAM_BOTH;
        applyViewerTypeIcon();
        fusionProcessor_->slotSetViewerType(viewerType_);
        emit signalOpenRawFile(QString());
        emit signalOpenFusionFile(video);
        openRecording_ = path;
        showCameraSerial(KvEventProcessor::recordingSerial(path));
        updateTitle();
        recent_->remember(path);
        setPlayBarEnabled(true);
    } else {
        sourceKind_ = SourceKind::DvsRecording;
        // Until the load ends the processor refuses commands: so do the buttons.
        setPlayBarEnabled(false);
        emit signalOpenRawFile(path);
        emit signalOpenFusionFile(QString());
    }
}

void MainWidget::setPlayBarEnabled(bool enabled) {
    for (QWidget* w : {static_cast<QWidget*>(ui->pb_play), static_cast<QWidget*>(ui->pb_loop),
                       static_cast<QWidget*>(ui->pb_next), static_cast<QWidget*>(ui->pb_prv),
                       static_cast<QWidget*>(ui->pb_stop), static_cast<QWidget*>(timeline_)}) {
        w->setEnabled(enabled);
    }
}

void MainWidget::slotRecordingOpened(QString file_path, QString serial) {
    if (sourceKind_ != SourceKind::DvsRecording) return;
    openRecording_ = file_path;
    showCameraSerial(serial);
    updateTitle();
    recent_->remember(file_path);
    setPlayBarEnabled(true);
}

void MainWidget::slotLoadFailed(QString, QString) {
    // The processor has told the user why. A recording it kept stays open
    // (paused); nothing else was open to go back to.
    if (sourceKind_ == SourceKind::DvsRecording && !openRecording_.isEmpty() &&
        rawProcessor_->hasReader()) {
        showCameraSerial(KvEventProcessor::recordingSerial(openRecording_));
        updateInfoLabels();
        setPlayBarEnabled(true);
        return;
    }
    closeRecordingView();
}

void MainWidget::closeRecordingView() {
    sourceKind_ = SourceKind::Nothing;
    openRecording_.clear();
    ui->pb_play->setChecked(false);
    setPlayBarEnabled(false);
    ui->widget_show_image->clearImage();
    timeline_->setMinimum(0);
    timeline_->setMaximum(0);
    timeline_->setCenterValue(0);
    ui->label_time->setText("--/ --");
    ui->label_show_camera_info->clear();
    ui->label_show_timestamp_info->clear();
    ui->lb_status_bar->clear();
    updateInfoLabels();
    updateTitle();
}

void MainWidget::updateTitle() {
    const QString program = tr("Widget");
    setWindowTitle(openRecording_.isEmpty()
                       ? program
                       : QFileInfo(openRecording_).fileName() + " - " + program);
    // Our own title bar shows the same, with the program's name untranslated.
    ui->label_app_name->setText(openRecording_.isEmpty()
                                    ? QStringLiteral("Velqora")
                                    : QFileInfo(openRecording_).fileName() + " - Velqora");
}

void MainWidget::slotShowEventRate(double events_per_second) {
    if (sourceKind_ != SourceKind::DvsRecording && sourceKind_ != SourceKind::FusionRecording)
        return;
    ui->lb_status_bar->setText(tr("Event rate: %1").arg(formatEventRate(events_per_second)));
}

void MainWidget::slotRecentMissing(QString path) {
    emit signalShowLeftBottomTips(
        tr("%1 no longer exists; it was removed from the recent recordings.")
            .arg(QFileInfo(path).fileName()),
        KvMessageType::Warning, path);
}

void MainWidget::goToRangeEnd() {
    if (sourceKind_ != SourceKind::DvsRecording || !ui->pb_next->isEnabled()) return;
    // The last whole window of the range, so the picture is not empty.
    const uint64_t lower = rawProcessor_->lowerBound(), upper = rawProcessor_->upperBound();
    const uint64_t window = std::min(rawProcessor_->accumulationTime(), upper - lower);
    rawProcessor_->setPlayPos(upper - window);
}

void MainWidget::slotToggleFullScreen() {
    // Full screen is for the picture: title bar, menus and side bar go, the
    // play bar stays; they come back as they were.
    if (isFullScreen()) {
        ui->widget_title_bar->show();
        ui->widget_side_bar->show();
        ui->frame_setting->setVisible(settingsShownBeforeFullScreen_);
        maximizedBeforeFullScreen_ ? showMaximized() : showNormal();
    } else {
        maximizedBeforeFullScreen_ = isMaximized();
        settingsShownBeforeFullScreen_ = !ui->frame_setting->isHidden();
        ui->widget_title_bar->hide();
        ui->widget_side_bar->hide();
        ui->frame_setting->hide();
        showFullScreen();
    }
}

void MainWidget::updateRangeLabel() {
    const bool editable = timeline_ && timeline_->handleMode() == KvThreeHandleSlider::ThreeHandles;
    ui->label_range->setVisible(editable);
    if (!editable) return;
    const uint64_t lower = timeline_->lowerValue(), upper = timeline_->upperValue();
    ui->label_range->setText(tr("Start %1 | End %2 | Length %3")
                                 .arg(formatTimestamp(lower), formatTimestamp(upper),
                                      formatTimestamp(upper >= lower ? upper - lower : 0)));
}

void MainWidget::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedRecording(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWidget::dropEvent(QDropEvent* event) {
    const QString path = droppedRecording(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    openRecordingPath(path);
}

void MainWidget::setShowTitleInfo(bool) {
    ui->label_show_camera_info->clear();
    ui->label_show_timestamp_info->clear();
    updateInfoLabels();
}

void MainWidget::showCameraSerial(QString str) {
    ui->label_show_camera_info->setText(str);
    updateInfoLabels();
}

void MainWidget::updateInfoLabels() {
    // A caption without its value says nothing: both go.
    const bool camera = !ui->label_show_camera_info->text().isEmpty();
    const bool time = !ui->label_show_timestamp_info->text().isEmpty();
    ui->label_show_play_text->setVisible(camera);
    ui->label_show_camera_info->setVisible(camera);
    ui->label_show_play_text2->setVisible(time);
    ui->label_show_timestamp_info->setVisible(time);
    ui->label_show_play_text2->setText(camera ? tr(" | Time: ") : tr("Time: "));
}

void MainWidget::showTimeStamp(uint64_t timestamp_us) {
    const bool hadTime = !ui->label_show_timestamp_info->text().isEmpty();
    ui->label_show_timestamp_info->setText(formatTimestamp(timestamp_us));
    if (!hadTime) updateInfoLabels();
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
    // The corners and the icon follow in changeEvent, as for a title-bar double click.
    if (!isMaximized()) {
        showMaximized();
    } else {
        showNormal();
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
    updateRangeLabel();
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
    // Over the picture, not over the record button and the side bar.
    toast->showOver(ui->widget_show_image);
}

void MainWidget::slotSetWaitWinStatus(bool en) {
    if (en) {
        waiting_->setProgress(-1);  // a figure appears only while an index is built
        waiting_->show();
    } else {
        waiting_->close();
    }
}

bool MainWidget::isTextField(const QWidget* widget) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) return !edit->isReadOnly();
    if (const auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->isEditable() && combo->lineEdit() && !combo->lineEdit()->isReadOnly();
    return qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget);
}

bool MainWidget::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::MouseButtonPress) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget == this || widget->window() != this) return false;
    if (type == QEvent::MouseButtonPress) {
        // The picture takes no focus of its own: a click on it gives the keys
        // back to the window (out of a field or a combo box).
        if (widget == ui->widget_show_image || ui->widget_show_image->isAncestorOf(widget))
            setFocus(Qt::MouseFocusReason);
        return false;
    }
    QWidget* focused = QApplication::focusWidget();
    if (!focused || focused->window() != this || focused == this) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (isTextField(focused)) {
        if (key != Qt::Key_Escape) return false;
        // Esc leaves the field; what it typed ends as on any other way out.
        setFocus(Qt::OtherFocusReason);
        return true;
    }
    if (key == Qt::Key_Space || key == Qt::Key_Left || key == Qt::Key_Right) {
        // A combo box or button that kept focus after a click would
        // otherwise take the play keys (and change a camera setting).
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    return false;
}

void MainWidget::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space:
            // A disabled button says nothing can play; its state must not lie.
            if (ui->pb_play->isEnabled()) ui->pb_play->setChecked(!ui->pb_play->isChecked());
            break;
        case Qt::Key_Escape:
            if (isFullScreen()) {
                slotToggleFullScreen();
            } else {
                QWidget::keyPressEvent(event);
            }
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

void MainWidget::centerOnScreen() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.width() / 2 - width() / 2, area.height() / 2 - height() / 2);
    }
}

void MainWidget::setVisible(bool visible) {
    // Centred before the window is mapped: moving it while a window manager
    // maps it for the first time leaves Qt and the manager disagreeing about
    // where it is (menus open off their buttons, the first title drag jumps).
    if (visible && !isVisible() && !std::exchange(layoutRestored_, false) &&
        !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))) {
        centerOnScreen();
    }
    QWidget::setVisible(visible);
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
    if (event->type() == QEvent::WindowStateChange) {
        // One path for the button, a title-bar double click and the window manager.
        setTitleBarCorners(isMaximized() || isFullScreen());
        // Shown again from minimised: a show like any other, centred too.
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        if ((change->oldState() & Qt::WindowMinimized) &&
            !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
            centerOnScreen();
        }
    }
    QWidget::changeEvent(event);
}
