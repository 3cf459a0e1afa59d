#pragma once

// Plays RAW recordings: loads a file on a load thread, then a playback
// thread reads one accumulation window per 33,333 us tick and renders it.
// Also the rendering entry of the live camera view.
//
// Export and cut run on job threads of their own (KvExportJobs.cpp).
//
// Ownership: created without parent by the main window, which deletes it.
// Threads: lives on the GUI thread; all slots run there. Load, playback and
// render threads are its own and end with it; a load still inside the
// driver is abandoned (it never touches the processor again). Signals from
// worker threads reach receivers queued.
// Failures: a file that cannot be played (unreadable, not a recording, no
// events) is reported through signalShowLeftBottomTips and signalLoadFailed;
// the processor is then left without a recording and refuses commands.
// A play request made while a file loads is kept and honoured once the load
// ends; a pause request drops it.

#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "korvane/file/DvsFileReader.h"
#include "EventFrameRenderer.h"
#include "KvExportJobs.h"
#include "KvMessageType.h"
#include "KvRecords.h"
#include "PlaybackClock.h"

class KvEventProcessor : public QObject {
    Q_OBJECT
public:
    static constexpr uint64_t kTick_us = PlaybackClock::kTick_us;

    explicit KvEventProcessor(QObject* parent = nullptr);
    ~KvEventProcessor() override;

    // Why the camera library cannot open `file_path` as a recording (the
    // reason a failed load reports), or empty when it can. Reads the header
    // and the start of the data only; a file it accepts may still turn out
    // to hold no events when loaded.
    static QString unplayableReason(const QString& file_path);
    // The camera serial a recording's header names (empty when none or unreadable).
    static QString recordingSerial(const QString& file_path);

    // Rendering entry points (any producer thread).
    void accumulateEvents(const korvane::Event2D* first, const korvane::Event2D* last);
    void requestFrame();
    void showAccumulatedEvents();
    void setImageSize(int width, int height);
    // The colours of rendered frames and exported videos (default: "Gray").
    void setThemeSource(ThemeSource theme) { renderer_->setThemeSource(std::move(theme)); }

    // State, for the window and tests.
    uint64_t fps() const { return clock_.fps(); }
    uint64_t frameInterval() const { return clock_.interval(); }
    uint64_t accumulationTime() const { return clock_.accumulation(); }
    uint64_t currentPosition() const { return clock_.position(); }
    uint64_t lowerBound() const { return clock_.lower(); }
    uint64_t upperBound() const { return clock_.upper(); }
    bool isLoading() const { return clock_.loading(); }
    bool isPlaying() const { return clock_.playing(); }
    bool hasReader() const { return reader_ != nullptr && playable_.load(); }
    const EventFrameRenderer& renderer() const { return *renderer_; }

    // Export and cut jobs (KvExportJobs.cpp), GUI thread.
    bool jobRunning() const { return exportRunning_.load() || cutRunning_.load(); }
    // Makes a running export or cut stop soon; it then ends with no file.
    void cancelExport();
    // Whether path names the recording being played.
    bool isCurrentRecording(const QString& path) const;
    KvJobProgress* jobProgress() { return &jobProgress_; }

signals:
    void signalEventImage(QImage image);
    void signalRealTimeTimeStamp(uint64_t timestamp_us);
    void signalStartTimeStamp(uint64_t timestamp_us);
    void signalEndTimeStamp(uint64_t timestamp_us);
    void signalPlayStatus(bool playing);
    void signalLoadingStatus(bool loading);
    void signalShowLeftBottomTips(QString tips, KvMessageType type = KvMessageType::Success,
                                  QString file_path = QString());
    // A recording opened: its path and the camera serial its header names
    // (may be empty). Sent before its time stamps.
    void signalRecordingOpened(QString file_path, QString serial);
    // The named file cannot be played; the reason is translated text.
    void signalLoadFailed(QString file_path, QString reason);
    // Percent (0-100) of the file indexed while a new recording opens.
    void signalLoadProgress(int percent);
    // Events per second of the windows shown (averaged over about half a
    // second of playback; every step reports at once).
    void signalEventRate(double events_per_second);

public slots:
    void loadFile(QString file_path);
    void preFrame();
    void nextFrame();
    void setPlayPos(uint64_t timestamp_us);
    void slotPlaybackCtrl(bool play);
    void slotPlaybackReset();
    void slotPlayLoop(bool loop);
    void setFps(int fps);
    void setAccTime(uint64_t time_us);
    void slotSetLowerTimeStamp(uint64_t timestamp_us);
    void slotSetUpperTimeStamp(uint64_t timestamp_us);
    void slotExportVideo(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts,
                         uint64_t end_ts);
    void slotCutRawFile(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts,
                        uint64_t end_ts);

private:
    bool readerReady(bool quiet);
    void stopPlayback();
    void markShown(uint64_t from_us);
    // One tick of playback; false when playback ends.
    bool playbackStep();
    // Hands a read batch to the renderer (and the position, if given, to the
    // window); false when no batch came back. An empty batch draws a
    // background frame unless skipEmpty.
    bool present(const korvane::EventBatch& batch, std::optional<uint64_t> position_us,
                 bool skipEmpty = false);
    // The same for the window [start, start + duration), counted straight
    // from the decoder (no window buffer: the pass over a dense window's
    // events is what a picture costs). Reader lock held by the caller.
    bool presentWindow(uint64_t start_us, uint64_t duration_us, std::optional<uint64_t> position_us,
                       bool skipEmpty = false);
    // What present and presentWindow do once the events are counted.
    void finishPresent(size_t events, std::optional<uint64_t> position_us, bool skipEmpty);
    void reportRate(size_t events, uint64_t window_us, bool now);
    void reportLoadFailure(const QString& file_path, const QString& reason);
    // Runs on the GUI thread after a load thread finished.
    void afterLoad(bool ok, const korvane::DvsFileReader* loaded);

    std::unique_ptr<EventFrameRenderer> renderer_;
    std::shared_ptr<korvane::DvsFileReader> reader_;
    // The recording open while another loads (GUI thread only): back in
    // place if the new file is refused.
    std::shared_ptr<korvane::DvsFileReader> kept_;
    bool keptShown_ = false;

    // Range, position, rate, playback and load threads. Declared after the
    // reader and the renderer: it ends its threads before they go.
    PlaybackClock clock_{33};
    // Where the window of the picture on screen starts, for a redraw when
    // the accumulation time changes while paused; false until one is shown.
    std::atomic<uint64_t> shownFrom_{0};
    std::atomic<bool> shown_{false};
    // > 0: a fusion camera's RAW opened alone, its columns stored mirrored
    // against this width; shown mirrored back.
    std::atomic<uint32_t> mirrorWidth_{0};
    std::atomic<bool> playable_{false};       // the reader holds a loaded recording with events
    std::atomic<bool> playRequested_{false};  // play asked for while loading
    // Rate averaging; touched by whichever thread presents (one at a time).
    uint64_t rateEvents_ = 0;
    uint64_t rateWindow_us_ = 0;
    int rateFrames_ = 0;

    std::mutex readerMutex_;

    // Jobs open readers of their own; reader_ is the playback's alone.
    // Destruction cancels the export and joins both before anything else goes.
    struct JobRecord;
    void runExportJob(const JobRecord& job);
    void runCutJob(const JobRecord& job);
    QString checkJobRange(korvane::DvsFileReader& reader, uint64_t start_us, uint64_t end_us);
    void finishJobs();
    std::thread exportThread_;
    std::thread cutThread_;
    std::atomic<bool> exportRunning_{false};
    std::atomic<bool> cutRunning_{false};
    std::atomic<bool> exportCancel_{false};
    std::atomic<bool> cutCancel_{false};
    KvJobProgress jobProgress_;
};
