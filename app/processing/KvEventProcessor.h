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

#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "DvsFileReader.h"
#include "EventFrameRenderer.h"
#include "KvExportJobs.h"
#include "KvMessageType.h"
#include "KvRecords.h"

class AppConfig;

class KvEventProcessor : public QObject {
    Q_OBJECT
public:
    static constexpr uint64_t kTick_us = 33333;

    explicit KvEventProcessor(QObject* parent = nullptr);
    ~KvEventProcessor() override;

    // Rendering entry points (any producer thread).
    void accumulateEvents(const korvane::Event2D* first, const korvane::Event2D* last);
    void requestFrame();
    void showAccumulatedEvents();
    void setImageSize(int width, int height);

    // State, for the window and tests.
    uint64_t fps() const { return fps_.load(); }
    uint64_t frameInterval() const { return frameInterval_.load(); }
    uint64_t accumulationTime() const { return accTime_.load(); }
    uint64_t currentPosition() const { return current_.load(); }
    uint64_t lowerBound() const { return lower_.load(); }
    uint64_t upperBound() const { return upper_.load(); }
    bool isLoading() const { return loading_.load(); }
    bool isPlaying() const { return playing_.load(); }
    bool hasReader() const { return reader_ != nullptr; }
    const EventFrameRenderer& renderer() const { return *renderer_; }

    // Export and cut jobs (KvExportJobs.cpp), GUI thread.
    bool jobRunning() const { return exportRunning_.load() || cutRunning_.load(); }
    // Makes a running export stop soon; it then ends with no file.
    void cancelExport() { exportCancel_ = true; }
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
    struct LoadJob;

    bool readerReady(bool quiet);
    void stopPlayback();
    void playbackLoop();
    void playbackSteps();
    void finishLoadThread(bool abandon);
    // Hands a read batch to the renderer (and the position, if given, to the
    // window); false when no batch came back. An empty batch draws a
    // background frame unless skipEmpty.
    bool present(const korvane::EventBatch& batch, std::optional<uint64_t> position_us,
                 bool skipEmpty = false);

    std::unique_ptr<EventFrameRenderer> renderer_;
    std::shared_ptr<korvane::DvsFileReader> reader_;

    std::atomic<uint64_t> fps_{33};
    std::atomic<uint64_t> frameInterval_{30303};
    std::atomic<uint64_t> accTime_{33333};
    std::atomic<bool> loop_{false};
    std::atomic<bool> playing_{false};
    std::atomic<uint64_t> current_{0};
    std::atomic<uint64_t> upper_{0};
    std::atomic<uint64_t> lower_{0};
    std::atomic<bool> loading_{false};

    std::mutex readerMutex_;
    std::thread playbackThread_;
    std::thread loadThread_;
    std::shared_ptr<LoadJob> loadJob_;

    // Jobs hold their own handle on the reader; destruction cancels the
    // export and joins both before anything else goes.
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
    KvJobProgress jobProgress_;
};
