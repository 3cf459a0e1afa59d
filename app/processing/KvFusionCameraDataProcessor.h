#pragma once

// The images of a fusion camera (events plus frames), live and from fusion
// recordings (base.raw events, base.mp4 frames, optional base.json
// calibration). Every image is 1280 x 720 BGR888, sent by signalFusionImage.
//
// Ownership: created without parent by the main window, which deletes it.
// Owns the calibrator, the pairing of live frames with trigger periods and
// the two readers of an open recording; holds the live camera as a shared
// handle (setCamera), never opens it. When its handle is the last one, the
// camera closes in setCamera or first thing in the destructor, outside
// every lock of the processor.
// Threads: lives on the GUI thread; all slots run there. setCamera,
// loadCalibration and clearFusion may also come from the window's
// camera-opening thread while the GUI thread waits. The live entry points
// come from the camera's threads: accumulateLiveEvents, addLiveEvents and
// addLiveTrigger from one thread (events and edges share it, which lets the
// pairing append events without a lock), addLiveFrame from another. The
// load and playback threads are the processor's own; stepping slots stop
// the playback thread before touching the readers, and every command but
// the live ones is refused while a load runs. Destruction ends playback and
// abandons a load still inside the driver: that thread keeps its own
// handles on the readers and never touches the processor again.
// Failures: readers that cannot be created or opened end the load quietly
// (debug line, signalLoadingStatus(false)); a calibration file that cannot
// be parsed, or names an event grid larger than the images, gives the
// default calibration and an error notice (a live camera's such calibration
// is ignored: the one held stays); a frame that cannot be read skips that
// image. A frames file that ends early (cut short, or its last frames
// unreadable) is reported once at load; past its last readable frame that
// frame stays in view under the events, up to the end of the events.

#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "korvane/video/ApsFileReader.h"
#include "Calibrator.h"
#include "DvsApsFusionProccessor.h"
#include "DvsFileInfo.h"
#include "korvane/file/DvsFileReader.h"
#include "korvane/camera/FusionCamera.h"
#include "KvMessageType.h"
#include "KvRecords.h"
#include "PlaybackClock.h"
#include "StreamType.h"
#include "ThemeColors.h"

class KvFusionCameraDataProcessor : public QObject {
    Q_OBJECT
public:
    static constexpr int kImageWidth = 1280;
    static constexpr int kImageHeight = 720;
    static constexpr uint64_t kTick_us = PlaybackClock::kTick_us;

    // Makes the frame reader of a recording from base.mp4 (local 8-bit
    // path); null when it cannot. Tests put a fake reader in here.
    using FrameReaderFactory =
        std::function<std::unique_ptr<korvane::ApsFileReader>(const std::string& path)>;

    explicit KvFusionCameraDataProcessor(QObject* parent = nullptr);
    ~KvFusionCameraDataProcessor() override;
    KvFusionCameraDataProcessor(const KvFusionCameraDataProcessor&) = delete;
    KvFusionCameraDataProcessor& operator=(const KvFusionCameraDataProcessor&) = delete;

    // GUI thread, before a load; null restores the camera library's factory.
    void setFrameReaderFactory(FrameReaderFactory factory);
    // The colours of event images (default: "Gray"); any thread.
    void setThemeSource(ThemeSource theme);
    // Where "Apply" writes tmp_calibration_file.json, asked at each apply
    // (the folder of the recordings being opened). GUI thread.
    using FolderSource = std::function<QString()>;
    void setCalibrationFolder(FolderSource folder) { calibrationFolder_ = std::move(folder); }

    // Live operation (see the thread rules above).
    void setCamera(std::shared_ptr<korvane::FusionCamera> camera);
    void accumulateLiveEvents(const korvane::Event2D* first, const korvane::Event2D* last);
    void addLiveEvents(const korvane::Event2D* first, const korvane::Event2D* last);
    void addLiveFrame(korvane::ApsFrame frame);
    void addLiveTrigger(const korvane::EventTriggerIn& trigger);
    void clearFusion();
    void loadCalibration(korvane::CalibratorParameters parameters);
    // Writes the calibration in force (manual offsets included) as a
    // calibration file; false when it cannot be written. Any thread.
    bool writeCalibration(const std::string& path) const;

    // State, for the window, the benchmarks and tests.
    korvane::STREAM_TYPE viewerType() const { return korvane::STREAM_TYPE(viewerType_.load()); }
    uint64_t timeBase() const { return clock_.position(); }
    uint64_t lowerBound() const { return clock_.lower(); }
    uint64_t upperBound() const { return clock_.upper(); }
    uint64_t frameInterval() const { return clock_.interval(); }
    uint64_t accumulationTime() const { return clock_.accumulation(); }
    bool isPlaying() const { return clock_.playing(); }
    bool isLoading() const { return clock_.loading(); }
    bool replay() const { return clock_.loop(); }
    // A recording is loaded and no load runs; GUI thread.
    bool hasRecording() const { return readersReady(); }
    uint64_t droppedFrames() const { return pairing_->droppedFrames(); }
    uint64_t droppedPeriods() const { return pairing_->droppedPeriods(); }
    uint64_t droppedEvents() const { return pairing_->droppedEvents(); }
    size_t queuedFrames() const { return pairing_->queuedFrames(); }
    size_t queuedPeriods() const { return pairing_->queuedPeriods(); }
    // A copy of the calibration's transforms and offsets, any thread.
    std::vector<double> forwardAffine() const;
    double offsetX() const { return calibrator_.offsetX(); }
    double offsetY() const { return calibrator_.offsetY(); }

signals:
    void signalFusionImage(QImage image);
    void signalFusionPixMap(QPixmap pixmap);
    void triggerFusionImage();
    void signalTimeStamp(uint64_t timestamp_us);
    void signalStartTimeStamp(uint64_t timestamp_us);
    void signalEndTimeStamp(uint64_t timestamp_us);
    void signalPalyFileFinished();
    void signalPlayStatus(bool playing);
    void signalLoadingStatus(bool loading);
    // Events per second of the windows drawn lately (playback; about twice
    // a second while playing, at once for a step).
    void signalEventRate(double events_per_second);
    void signalShowLeftBottomTips(QString tips, KvMessageType type = KvMessageType::Success,
                                  QString file_path = QString());

public slots:
    void slotSetViewerType(korvane::STREAM_TYPE type);
    bool slotReadFusionFile(QString str);
    void slotSetLowerTimeStamp(uint64_t timestamp_us);
    void slotSetUpperTimeStamp(uint64_t timestamp_us);
    void slotSetReplayFlag(bool replay);
    void slotPlaybackCtrl(bool play);
    void slotPlaybackReset();
    void preFrame();
    void nextFrame();
    void setPlayPos(uint64_t timestamp_us);
    void setFps(int fps);
    void setAccTime(uint64_t time_us);
    void slotSetApsOffset(double dx, double dy);
    void slotApplyOffset();

private:
    bool readersReady() const;
    void stopPlayback();
    // One tick of playback; false when playback ends.
    bool playbackStep();
    void runLoad(const std::shared_ptr<PlaybackClock::LoadJob>& job, const std::string& base,
                 const std::shared_ptr<korvane::ApsFileReader>& frames,
                 const std::shared_ptr<korvane::DvsFileReader>& events);
    // Runs on the GUI thread once a load of that event reader ended.
    void afterLoad(bool ok, const korvane::DvsFileReader* loaded);
    korvane::ApsFrame remap(const korvane::ApsFrame& frame) const;
    // Reads the frame shown at event time t and the one after it; false
    // (frames unchanged) when either read fails.
    bool positionFramesAt(uint64_t t_us);
    void render();
    void onLivePair(korvane::ApsFrame& frame, korvane::Event2D* first, korvane::Event2D* last);
    void drawEvents(QImage& image, const korvane::Event2D* first, const korvane::Event2D* last,
                    bool mirrored) const;
    void ensureImage(QImage& image) const;

    ThemeColors theme() const;

    mutable std::mutex themeMutex_;  // taken alone, around themeSource_ only
    ThemeSource themeSource_;
    FolderSource calibrationFolder_;
    FrameReaderFactory frameReaderFactory_;

    mutable std::mutex cameraMutex_;  // guards camera_ (set by the GUI, read by the pairing)
    std::shared_ptr<korvane::FusionCamera> camera_;
    std::atomic<int> viewerType_{int(korvane::STREAM_BOTH)};  // live and playback

    // Load, save and mapping of the calibrator are serialised here; the
    // offsets alone are atomic inside it.
    mutable std::mutex calibratorMutex_;
    korvane::Calibrator calibrator_;
    std::unique_ptr<korvane::DvsApsFusionProccessor> pairing_;

    // Made on first use: an idle window holds no image or counter memory.
    std::mutex fusionImageMutex_;
    QImage fusionImage_;
    std::mutex eventImageMutex_;  // taken before countMutex_
    QImage eventImage_;
    std::mutex countMutex_;
    std::vector<uint16_t> counts_;

    // Recording state: the readers and frames belong to whichever of the
    // GUI thread, the load thread or the playback thread currently may
    // touch them (see the thread rules above).
    std::shared_ptr<korvane::ApsFileReader> frameReader_;
    std::shared_ptr<korvane::DvsFileReader> eventReader_;
    std::vector<uint64_t> frameTimestamps_us_;
    korvane::DvsFileInfo fileInfo_;
    uint64_t eventFileStart_us_ = 0;
    uint64_t eventFileEnd_us_ = 0;
    uint64_t frameOffset_us_ = 0;  // event-clock time of the first frame
    int frameWidth_ = 3840, frameHeight_ = 2160;
    korvane::ApsFrame currentFrame_{0, 0};  // remapped; empty until a recording shows one
    korvane::ApsFrame nextFrame_{0, 0};
    // The frames file has nothing readable after the current frame: it
    // stays in view while the events play on.
    bool framesEnded_ = false;
    // The rate report's sums, kept by whichever thread renders.
    uint64_t rateEvents_ = 0, rateWindow_us_ = 0;
    int rateFrames_ = 0;
    // Frame-clock time of the last frame that can be read; the frame shown
    // at any later time.
    uint64_t lastReadableFrame_us_ = UINT64_MAX;

    // Range, time base, rate, replay, and the playback and load threads.
    PlaybackClock clock_{30};
    std::atomic<bool> loaded_{false};  // the readers hold a loaded recording
};
