#pragma once

// The main window: our own frame and title bar with four menus, the image
// view, the play bar and the timeline, the side bar's panels, the live event
// and fusion cameras and the recordings of both (MainWidgetCamera.cpp,
// MainWidgetFusion.cpp, MainWidgetSideBar.cpp, MainWidgetExport.cpp).
//
// Ownership: owns its form, processor, timeline, waiting window and frame
// agent. GUI thread only; processor signals arrive queued.
// The play bar and the timeline are enabled only while a recording is open
// and loaded; a recording that fails to load clears the picture, the
// timeline and the title.

#include <QAction>
#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "korvane/camera/DvsCameraManager.h"
#include "KvMessageType.h"
#include "StreamType.h"

class AppConfig;
class CamerasList;
class KvEventProcessor;
class KvFusionCameraDataProcessor;
class KvRangeFileDialog;
class KvFileRecorder;
class SidebarApsSettingUI;
class SidebarCameraSettingUI;
class SidebarDvsSettingUI;
class KvThreeHandleSlider;
class QMenu;
class RecentRecordings;
class ShowCameraInfoUI;
class QTimer;
class WaitingWin;
class WindowFrameAgent;

// What the window has open.
enum class SourceKind : int {
    Nothing = 0,
    DvsCamera = 1,
    FusionCamera = 2,
    DvsRecording = 3,
    FusionRecording = 4,
};

namespace Ui {
class MainWidget;
}

// minutes:seconds:microseconds, at least 2, 2 and 6 digits; minutes do not wrap.
QString formatTimestamp(uint64_t timestamp_us);
// HH:MM:SS of a number of seconds; hours do not wrap.
QString formatDuration(uint64_t seconds);
// The live status line: " Bandwidth: 10.00 MB/s  Events: 2.50 Mev/s " (translated).
QString formatStatusLine(uint64_t bandwidth_bytes_per_s, uint64_t events_per_s);
// Its two halves, as the statistics reach the window.
QString formatStatusBandwidth(uint64_t bandwidth_bytes_per_s);
QString formatStatusEvents(uint64_t events_per_s);
// A data rate in the style of the event rates: "10.00 MB/s", "12.5 KB/s", "800 B/s".
QString formatBandwidth(double bytes_per_second);

// What trigger-in recording needs, copied on the GUI thread for the camera's
// thread (which must not read the configuration while it is being saved).
struct TriggerInRecording {
    QString edgeType;      // "Rising Edge" or "Falling Edge"
    QString outputDir;     // where the files go
    QString serial;        // of the camera
    uint32_t after_s = 0;  // seconds recorded after the edge
    // The file to record for this edge, or empty when the edge is not the
    // configured one. Rising edges carry polarity 1, falling ones 0.
    QString pathFor(const korvane::EventTriggerIn& trigger, const QDateTime& now) const;
};
// The base name, or, when a file of a recording by that name already lies in
// the folder (a recording started again within the same second), the first
// of base_2, base_3, ... that is free: cameras truncate what they open.
QString freeRecordingBase(const QString& directory, const QString& base);
// output dir + "/" + serial + "_yyyyMMdd_HHmmss.raw" (made free as above)
QString recordingFilePath(const QString& dir, const QString& serial, const QDateTime& now);

// An event rate for the status line: "2.45 Mev/s", "12.5 kev/s", "800 ev/s".
QString formatEventRate(double events_per_second);

class MainWidget : public QWidget {
    Q_OBJECT
public:
    // Asks the user for a file: (caption, start directory, filter) -> path or empty.
    using OpenFileDialog = std::function<QString(const QString&, const QString&, const QString&)>;

    explicit MainWidget(QWidget* parent = nullptr);
    ~MainWidget() override;

    // Tests replace the file dialog through this seam.
    void setOpenFileDialog(OpenFileDialog dialog) { openFileDialog_ = std::move(dialog); }

    // Side bar and its commands (MainWidgetSideBar.cpp).
    // Asks a yes/no question: (title, text, accept, reject) -> accepted.
    using AskUser =
        std::function<bool(const QString&, const QString&, const QString&, const QString&)>;
    // Starts a program detached, without arguments; false when it could not start.
    using StartProgram = std::function<bool(const QString&)>;
    using OpenUrl = std::function<bool(const QUrl&)>;
    void setAskUser(AskUser ask) { askUser_ = std::move(ask); }
    void setStartProgram(StartProgram start) { startProgram_ = std::move(start); }
    void setOpenUrl(OpenUrl open) { openUrl_ = std::move(open); }
    SidebarCameraSettingUI* displayPanel() const { return displayPanel_; }
    SidebarDvsSettingUI* dvsPanel() const { return dvsPanel_; }
    SidebarApsSettingUI* apsPanel() const { return apsPanel_; }
    // The about page, written beside the configuration from the program's copy.
    static QString writeAboutPage(const QString& directory);
    // What Help > About tells in the program itself: version and maker, then
    // the offer to open the full page.
    static QString aboutText();
    // Every show (and every restore from minimised) centres the window on the
    // primary screen's available area.
    void setVisible(bool visible) override;
    // The window's geometry and side panel go to the configuration (at close
    // and before a language restart) and come back at the next start; a
    // window whose geometry came back is not centred when first shown.
    void rememberLayout();
    void restoreLayout();
    // After a language restart, opens the recording that was open (once).
    void reopenAfterRestart();

    // Export and cut (MainWidgetExport.cpp). Runs a prepared dialog ->
    // accepted; tests replace it to fill in the fields instead.
    using RunRangeDialog = std::function<bool(KvRangeFileDialog&)>;
    void setRunRangeDialog(RunRangeDialog run) { runRangeDialog_ = std::move(run); }

    SourceKind sourceKind() const { return sourceKind_; }
    korvane::STREAM_TYPE viewerType() const { return viewerType_; }
    KvEventProcessor* rawProcessor() const { return rawProcessor_; }
    KvThreeHandleSlider* timeline() const { return timeline_; }
    WaitingWin* waitingWindow() const { return waiting_; }
    QMenu* viewerSettingMenu() const { return viewerSettingMenu_; }
    QAction* action(const QString& englishTitle) const;
    QMenu* recentMenu() const { return recentMenu_; }
    // The recording being shown (empty when none).
    QString openRecording() const { return openRecording_; }
    // Opens a .raw file as "Open Recording" does after its dialog.
    void openRecordingPath(const QString& path);

    // Live camera (MainWidgetCamera.cpp). Tests replace the camera search
    // and the list's modal run: (list) -> accepted.
    using RunCameraList = std::function<bool(CamerasList&)>;
    void setRunCameraList(RunCameraList run) { runCameraList_ = std::move(run); }
    void setCameraManager(korvane::DvsCameraManager manager) {
        cameraManager_ = std::move(manager);
    }
    std::shared_ptr<korvane::DvsCamera> dvsCamera() const { return dvsCamera_; }
    // Fusion camera and recordings (MainWidgetFusion.cpp). Tests replace the
    // camera information dialog's modal run.
    using RunCameraInfo = std::function<void(ShowCameraInfoUI&)>;
    void setRunCameraInfo(RunCameraInfo run) { runCameraInfo_ = std::move(run); }
    // Free bytes where recordings go (tests stand in for a full disk); a
    // recording needs at least kMinFreeForRecording to start.
    using FreeSpace = std::function<qint64(const QString&)>;
    static constexpr qint64 kMinFreeForRecording = 16ll << 20;
    void setFreeSpace(FreeSpace probe) { freeSpace_ = std::move(probe); }
    // Why a recording cannot start in `directory`; empty when it can.
    QString recordingFolderProblem(const QString& directory) const;
    KvFusionCameraDataProcessor* fusionProcessor() const { return fusionProcessor_; }
    std::shared_ptr<korvane::FusionCamera> fusionCamera() const { return fusionCamera_; }
    QString firmwareText() const { return firmwareText_; }
    KvFileRecorder* recorder() const { return recorder_; }
    bool isStreaming() const { return streaming_.load(); }
    bool isRecording() const { return recording_.load(); }
    uint64_t batchInterval() const { return batchInterval_us_.load(); }
    // Batches the live view fell behind on since streaming started.
    uint64_t lateBatches() const { return lateBatches_.load(); }
    // The file the record button writes (empty when none ran yet).
    QString buttonRecordingPath() const { return recordingPath_; }

    static constexpr int kRecentCount = 10;  // entries under "Recent recordings"
    Ui::MainWidget* form() const { return ui; }

signals:
    void triggerEventsToShow();
    void resetShowCameraFormTitle(bool show);
    void toShowCameraSerial(QString serial);
    void setShowCameraLiveUI(bool live);
    void signalSetViewerShowType(korvane::STREAM_TYPE type);
    void signalShowLeftBottomTips(QString tips, KvMessageType type = KvMessageType::Success,
                                  QString file_path = QString());
    void signalOpenRawFile(QString path);
    void signalOpenFusionFile(QString path);
    void signalExportVideo(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts);
    void signalCutRawFile(QString out_path, QString out_dir, uint64_t start_ts, uint64_t end_ts);
    void signalRecByTime(uint32_t seconds, QString path);
    // From the camera's, the live and the clock threads to this window (queued).
    void signalStatisticsText(QString bandwidth, QString events);
    // The stream's bytes per second, for the trigger cache's disk check.
    void signalDataRate(quint64 bytes_per_s);
    void signalRecordingError(QString path, QString reason);
    void signalCameraLost();
    void signalRecordingClockTick(quint64 seconds);

public slots:
    void slotOpenCamera();
    void on_pb_play_clicked(bool checked);
    void on_pb_record_clicked();
    void initDvsCameraSettings();
    void showCameraPlayingUI(bool en);
    void getEventsToShow();
    void openActionSlot(QAction* action);
    void slotOpenRecording();
    void setShowTitleInfo(bool show);
    void showCameraSerial(QString str);
    void showTimeStamp(uint64_t timestamp_us);
    void on_pb_win_min_clicked();
    void on_pb_win_max_clicked();
    void on_pb_win_close_clicked();
    void on_pb_viewer_setting_clicked(bool checked);
    void slotStartEndPointEditable(bool en);
    void on_pb_viewer_type_clicked();
    void slotShowLeftBottomTips(QString tips, KvMessageType type = KvMessageType::Success,
                                QString file_path = QString());
    void slotSetWaitWinStatus(bool en);
    void on_pb_fold_setting_clicked(bool checked);
    void on_pb_fold_dvs_setting_clicked(bool checked);
    void on_pb_fold_aps_setting_clicked(bool checked);
    void on_pb_fold_general_setting_clicked();
    void slotRecordingOpened(QString file_path, QString serial);
    void slotLoadFailed(QString file_path, QString reason);
    void slotShowEventRate(double events_per_second);
    void slotToggleFullScreen();
    void slotSaveAs();
    void slotCutRecording();
    void slotShowCameraInfo();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Application-wide: the window's keys reach it from any of its widgets
    // but a text field being edited; a click on the picture takes focus back.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void retranslate();
    void createMenus();
    void initConnections();
    void applyViewerTypeIcon();
    void setTitleBarCorners(bool maximized);
    QMenu* newMenu();
    void createSidePanels();
    void connectDisplayPanel();
    void resetPanelsForRecording();
    bool runSideBarCommand(const QString& englishTitle);
    void showSidePanel(int index, bool checked);
    void runGeneralSetting(QWidget* parent);
    void switchLanguage();
    void openAboutPage();
    void setPlayBarEnabled(bool enabled);
    void closeRecordingView();
    void updateTitle();
    void centerOnScreen();
    // True for a widget that takes typed text (a writable line edit, an
    // editable combo box): the window's keys stay out of it.
    static bool isTextField(const QWidget* widget);
    void updateRangeLabel();
    // Shows the camera and time captions only beside a value.
    void updateInfoLabels();
    void slotRecentMissing(QString path);
    void goToRangeEnd();
    void connectExportAndCut();
    // Tells the user and returns true while an export or cut reads the recording.
    bool refuseWhileJobRuns();
    // The shared part of "Save as..." and "Cut Recording"; false when nothing was started.
    bool runRangeCommand(KvRangeFileDialog& dialog, const QString& directory,
                         const QString& extension, bool cut);
    // Live camera (MainWidgetCamera.cpp).
    bool openCameraTask(SourceKind kind, const korvane::CameraDescription& camera,
                        std::shared_ptr<korvane::DvsCamera>& opened);
    // Statistics callback of either camera kind: builds the texts, posts them.
    std::function<void(const korvane::KvStatisticInfo&)> statisticsHandler();
    // Fusion camera (MainWidgetFusion.cpp). The opening task runs on the worker thread.
    bool openFusionCameraTask(const korvane::CameraDescription& camera,
                              std::shared_ptr<korvane::FusionCamera>& opened, QString& firmware);
    void connectFusionProcessor();
    void toggleFusionStreaming();
    void stopFusionStreaming();
    void startFusionRecording();
    void releaseFusionCamera();
    void checkFusionConnection();
    void setCameraBatchInterval(uint64_t interval_us);
    void liveLoop(std::shared_ptr<korvane::DvsCamera> camera);
    void cameraConnectionLost();
    void recordingFailed(QString path, QString reason);
    void finishButtonRecording(bool notify);
    void startRecordingClock();
    void stopRecordingClock();
    void recordingClock();
    void showRecordingClock(quint64 seconds);
    void showStatistics(QString bandwidth, QString events);
    void updateStatusLine();
    void stopStreaming();
    void releaseCameras();
    // Stops a recording (telling the user when notify), streaming, and drops the camera.
    void shutdownCamera(bool notify);
    // True when no recording runs or the user agrees to stop it.
    bool confirmStopRecording();

    Ui::MainWidget* ui;
    AppConfig* config_ = nullptr;
    WindowFrameAgent* frameAgent_ = nullptr;
    SourceKind sourceKind_ = SourceKind::Nothing;
    korvane::STREAM_TYPE viewerType_ = korvane::STREAM_BOTH;
    KvEventProcessor* rawProcessor_ = nullptr;
    KvFusionCameraDataProcessor* fusionProcessor_ = nullptr;
    KvThreeHandleSlider* timeline_ = nullptr;
    WaitingWin* waiting_ = nullptr;
    QMenu* viewerSettingMenu_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* deviceMenu_ = nullptr;
    QMenu* settingMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    RecentRecordings* recent_ = nullptr;
    QString openRecording_;
    bool maximizedBeforeFullScreen_ = false;
    bool settingsShownBeforeFullScreen_ = true;
    QAction* toggleStartEnd_ = nullptr;
    QList<QAction*> actions_;  // the titled actions, translated by retranslate()
    OpenFileDialog openFileDialog_;
    SidebarCameraSettingUI* displayPanel_ = nullptr;
    SidebarDvsSettingUI* dvsPanel_ = nullptr;
    SidebarApsSettingUI* apsPanel_ = nullptr;
    AskUser askUser_;
    FreeSpace freeSpace_;
    StartProgram startProgram_;
    OpenUrl openUrl_;
    RunRangeDialog runRangeDialog_;

    // Live camera. The camera handle, recorder and flags belong to the GUI
    // thread; the live thread gets its own handle copy and stops on
    // streaming_; the clock thread stops on recording_ (woken by clockWake_).
    korvane::DvsCameraManager cameraManager_;
    RunCameraList runCameraList_;
    std::shared_ptr<korvane::DvsCamera> dvsCamera_;
    // The fusion camera, its callbacks (removed before it goes) and the
    // firmware text it reported when opened.
    std::shared_ptr<korvane::FusionCamera> fusionCamera_;
    std::vector<uint32_t> fusionCallbackIds_;
    QString firmwareText_;
    uint64_t fusionDroppedFramesAtStart_ = 0, fusionDroppedPeriodsAtStart_ = 0;
    uint64_t fusionDroppedEventsAtStart_ = 0;
    QTimer* fusionWatch_ = nullptr;  // looks for a lost cable while the fusion camera streams
    RunCameraInfo runCameraInfo_;
    KvFileRecorder* recorder_ = nullptr;
    uint32_t triggerCallbackId_ = 0xFFFFFFFFu;
    std::atomic<bool> streaming_{false};
    std::atomic<uint64_t> batchInterval_us_{33333};
    uint32_t displayRate_ = 33;
    std::vector<korvane::Event2D> eventBuffer_;  // the live thread's alone
    std::thread liveThread_;
    std::atomic<bool> recording_{false};
    QString recordingPath_;
    std::thread clockThread_;
    std::mutex clockMutex_;
    std::condition_variable clockWake_;
    QString bandwidthText_, eventRateText_;
    std::atomic<uint64_t> lateBatches_{0};
    std::atomic<bool> showPending_{false};  // a picture request waits for the GUI thread
    uint64_t droppedBatches_ = 0;
    uint64_t droppedAtStart_ = 0;
    bool layoutRestored_ = false;  // the next show keeps the restored place
};
