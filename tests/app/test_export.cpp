// "Save as..." and "Cut Recording": the two dialogs, the main window's
// presets and refusals, and the processor's job threads (outcome notices,
// progress, cancel, and no job outliving the processor).

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>

#include "../driver/VideoReadBack.h"
#include "AppConfig.h"
#include "AppTestMain.h"
#include "korvane/file/DvsFileReader.h"
#include "KvCutRawFile.h"
#include "KvEventProcessor.h"
#include "KvExportJobs.h"
#include "KvExportVideoUI.h"
#include "KvThreeHandleSlider.h"
#include "MainWidget.h"
#include "korvane/file/RawWriter.h"
#include "korvane/sim/SyntheticRecording.h"
#include "ThreadSafeSignalSpy.h"
#include "Utils/FuncUtils.h"
#include "korvane/video/VideoExport.h"
#include "WaitingWin.h"
#include "WindowFrameAgent.h"
#include "WindowTestSupport.h"
#include "ui_KvCutRawFile.h"
#include "ui_KvExportVideoUI.h"
#include "ui_MainWidget.h"

namespace {

constexpr uint64_t kFirst = 500;  // first timestamp of the generated scene

// The recording the exports start from: 2 s at 200 kev/s, no trigger edges.
const korvane::SyntheticOptions kScene{
    .duration_us = 2000000, .eventsPerSecond = 200000, .startTime_us = kFirst};

struct Notice {
    QString text;
    KvMessageType type;
    QString path;
};

QList<Notice> notices(const QList<QVariantList>& calls) {
    QList<Notice> out;
    for (const auto& args : calls)
        out.push_back(
            {args.at(0).toString(), args.at(1).value<KvMessageType>(), args.at(2).toString()});
    return out;
}

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

}  // namespace

class ExportTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString recording_;

    // A window with the recording loaded and its range handles set.
    void openRecording(MainWidget& w) {
        w.setOpenFileDialog(
            [&](const QString&, const QString&, const QString&) { return recording_; });
        KvEventProcessor* p = w.rawProcessor();
        ThreadSafeSignalSpy loading(p, &KvEventProcessor::signalLoadingStatus);
        w.slotOpenRecording();
        // The load's last signal: the range, the play request and the
        // waiting window's state, queued before it, have reached the window.
        QTRY_VERIFY_WITH_TIMEOUT(!loading.isEmpty() && !loading.last().at(0).toBool(), 20000);
        QVERIFY(p->hasReader() && !p->isLoading());
        QVERIFY(!w.waitingWindow()->isVisible());
        QCOMPARE(w.timeline()->maximum(), p->upperBound());
        QCOMPARE(w.timeline()->minimum(), p->lowerBound());
        w.form()->pb_play->setChecked(false);
    }

    // Loads a recording into a bare processor and waits for the load's last
    // signal, so that none of its signals reaches a spy made afterwards.
    static void loadAndWait(KvEventProcessor& p, const QString& path) {
        ThreadSafeSignalSpy loading(&p, &KvEventProcessor::signalLoadingStatus);
        p.loadFile(path);
        QTRY_VERIFY_WITH_TIMEOUT(!loading.isEmpty() && !loading.last().at(0).toBool(), 20000);
        QVERIFY(p.hasReader() && !p.isLoading());
    }

    static void waitForJobs(KvEventProcessor* p) {
        QTRY_VERIFY_WITH_TIMEOUT(!p->jobRunning(), 60000);
    }

private slots:
    void initTestCase() {
        qRegisterMetaType<KvMessageType>("KvMessageType");
        recording_ = writeRecording(dir_.filePath("scene.raw"), kScene);
    }

    void dialogsFormsAndFields() {
        KvExportVideoUI e;
        QCOMPARE(e.size(), QSize(346, 225));
        QCOMPARE(e.minimumSize(), QSize(0, 225));
        QCOMPARE(e.maximumSize(), QSize(350, 225));
        QCOMPARE(e.form()->lb_title->text(), QString("Export a video"));
        QCOMPARE(e.form()->pb_save->text(), QString("Export"));
        QCOMPARE(e.form()->pb_cancel->text(), QString("Cancel"));
        QCOMPARE(e.fileName(), QString("xxx.mp4"));
        QCOMPARE(e.frameAgent()->titleBar(), e.findChild<QWidget*>("widget_title_name"));
        QVERIFY(e.windowFlags() & Qt::FramelessWindowHint);

        KvCutRawFile c;
        QCOMPARE(c.size(), QSize(326, 231));
        QCOMPARE(c.maximumSize(), QSize(350, 240));
        QCOMPARE(c.form()->lb_title->text(), QString("Cut Recording"));
        QCOMPARE(c.form()->pb_save->text(), QString("Cut"));
        QCOMPARE(c.fileName(), QString("xxx.raw"));
        for (const char* name :
             {"le_start_time", "pb_start_time_plus", "pb_start_time_sub", "le_end_time",
              "pb_end_time_plus", "pb_end_time_sub", "le_save_file_path", "le_file_name", "pb_save",
              "pb_cancel", "pb_win_close", "lb_start_time", "lb_end_time", "lb_save_file_path",
              "lb_file_name"}) {
            QVERIFY2(c.findChild<QWidget*>(name), name);
            QVERIFY2(e.findChild<QWidget*>(name), name);
        }
        // The times are asked for in microseconds, and the fields say so.
        for (KvRangeFileDialog* d :
             {static_cast<KvRangeFileDialog*>(&c), static_cast<KvRangeFileDialog*>(&e)}) {
            QCOMPARE(d->findChild<QLabel*>("lb_start_time")->text(),
                     QString::fromUtf8("Start Time (µs)"));
            QCOMPARE(d->findChild<QLabel*>("lb_end_time")->text(),
                     QString::fromUtf8("End Time (µs)"));
        }
        QCOMPARE(c.form()->lb_save_file_path->text(), QString("Save File Path"));
        // A long folder shows its last whole folders, never a cut one; the
        // whole of it in the tip, while edited and as the value.
        const QString longPath = "/home/someone/Documents/KorvaneData/exports/of/this/week/clips";
        QLineEdit* pathEdit = c.form()->le_save_file_path;
        c.setSavePath(longPath);
        c.show();
        QVERIFY(QTest::qWaitForWindowExposed(&c));
        QCOMPARE(pathEdit->toolTip(), longPath);
        QCOMPARE(c.savePath(), longPath);
        const QString shown = pathEdit->text();
        QVERIFY2(shown.startsWith(QString::fromUtf8("…/")) && longPath.endsWith(shown.mid(1)),
                 qPrintable(shown));
        QVERIFY(pathEdit->fontMetrics().horizontalAdvance(shown) < pathEdit->width());
        pathEdit->setFocus();
        QTRY_COMPARE(pathEdit->text(), longPath);
        pathEdit->setText(longPath + "/more");  // typed: the value follows
        pathEdit->clearFocus();
        QTRY_VERIFY(pathEdit->text().startsWith(QString::fromUtf8("…/")));
        QCOMPARE(c.savePath(), longPath + "/more");
        QCOMPARE(c.fullPath(), longPath + "/more/" + c.fileName());
        c.hide();
        // Fitting: whole folders dropped from the front; one folder too long keeps both ends.
        const QFontMetrics metrics(pathEdit->font());
        const auto width = [&](const char* text) {
            return metrics.horizontalAdvance(QString::fromUtf8(text));
        };
        QCOMPARE(KvRangeFileDialog::fitPath("/aaaaaaaa/bb/ccc", metrics, width("/aaaaaaaa/bb/ccc")),
                 QString("/aaaaaaaa/bb/ccc"));
        QCOMPARE(KvRangeFileDialog::fitPath("/aaaaaaaa/bb/ccc", metrics, width("…/bb/ccc")),
                 QString::fromUtf8("…/bb/ccc"));
        QCOMPARE(KvRangeFileDialog::fitPath("/aaaaaaaa/bb/ccc", metrics, width("…/ccc")),
                 QString::fromUtf8("…/ccc"));
        const QString cut =
            KvRangeFileDialog::fitPath("/a/averyveryverylongfoldername", metrics, width("…/avery"));
        QVERIFY2(cut.contains(QString::fromUtf8("…")) && cut.endsWith("e"), qPrintable(cut));

        // Numbers beyond 32 bits pass unchanged; anything not a number reads as 0.
        e.setStartTime(5000000000ull);
        QCOMPARE(e.form()->le_start_time->text(), QString("5000000000"));
        QCOMPARE(e.startTime(), uint64_t(5000000000ull));
        e.form()->le_start_time->setText("12ab");
        QCOMPARE(e.startTime(), uint64_t(0));
        e.form()->le_end_time->setText("-5");
        QCOMPARE(e.endTime(), uint64_t(0));
        e.setSavePath("/data/videos");
        e.setFileName("a.mp4");
        QCOMPARE(e.fullPath(), QString("/data/videos/a.mp4"));
    }

    void dialogButtonsAndFolderChooser() {
        KvCutRawFile c;
        c.setSavePath("/start/here");
        QString askedCaption, askedStart;
        QString answer;  // cancelled
        c.setDirectoryChooser([&](QWidget*, const QString& caption, const QString& start) {
            askedCaption = caption;
            askedStart = start;
            return answer;
        });
        QTest::mouseClick(c.form()->pb_select_dir, Qt::LeftButton);
        QCOMPARE(askedCaption, QString("Select Directory"));
        QCOMPARE(askedStart, QString("/start/here"));
        QCOMPARE(c.savePath(), QString("/start/here"));  // cancel keeps the folder
        answer = "/elsewhere";
        QTest::mouseClick(c.form()->pb_select_dir, Qt::LeftButton);
        QCOMPARE(c.savePath(), QString("/elsewhere"));

        // An invalid range keeps the dialog open and says why; a valid one closes it.
        struct Case {
            const char* start;
            const char* end;
            const char* name;
            const char* why;  // empty: accepted
        };
        const Case cases[] = {
            {"", "", "a.raw", "whole numbers"},
            {"12ab", "900", "a.raw", "whole numbers"},
            {"900", "900", "a.raw", "before the end"},
            {"950", "900", "a.raw", "before the end"},
            {"50", "900", "a.raw", "100 to 1000"},
            {"100", "1001", "a.raw", "100 to 1000"},
            {"100", "1000", " ", "name the file"},
            {"100", "1000", "a.raw", ""},
            {"100", "1000", "../up.mp4", "cannot contain"},
            {"100", "1000", "a/b", "cannot contain"},
            {"100", "1000", "a\\b", "cannot contain"},
            {"100", "1000", "..", "cannot contain"},
            {"100", "1000", "run..2.mp4", ""},
        };
        c.setAllowedRange(100, 1000);
        for (const Case& k : cases) {
            c.show();
            c.setResult(QDialog::Rejected);
            c.form()->le_start_time->setText(k.start);
            c.form()->le_end_time->setText(k.end);
            c.setFileName(k.name);
            QTest::mouseClick(c.form()->pb_save, Qt::LeftButton);
            if (*k.why) {
                QVERIFY2(c.isVisible(), k.why);
                QCOMPARE(c.result(), int(QDialog::Rejected));
                QVERIFY2(c.shownProblem().contains(k.why), qPrintable(c.shownProblem()));
                QCOMPARE(c.form()->le_start_time->text(), QString(k.start));  // kept
            } else {
                QVERIFY(!c.isVisible());
                QCOMPARE(c.result(), int(QDialog::Accepted));
            }
        }
        c.show();
        QTest::mouseClick(c.form()->pb_cancel, Qt::LeftButton);
        QCOMPARE(c.result(), int(QDialog::Rejected));
        c.show();
        c.setResult(QDialog::Accepted);
        QTest::mouseClick(c.form()->pb_win_close, Qt::LeftButton);
        QCOMPARE(c.result(), int(QDialog::Rejected));
    }

    void withoutDvsRecordingNothingRuns() {
        QTemporaryDir dir;
        // A recording that opens (an empty file is refused before anything happens).
        QFile::copy(recording_, dir.filePath("f.raw"));
        QFile(dir.filePath("f.mp4")).open(QIODevice::WriteOnly);
        MainWidget w;
        QSignalSpy tips(&w, &MainWidget::signalShowLeftBottomTips);
        QSignalSpy exports(&w, &MainWidget::signalExportVideo);
        int dialogs = 0;
        w.setRunRangeDialog([&](KvRangeFileDialog&) { return ++dialogs, true; });
        w.action("Save as...")->trigger();
        w.action("Cut Recording")->trigger();
        // A fusion recording is no DVS recording either.
        w.setOpenFileDialog(
            [&](const QString&, const QString&, const QString&) { return dir.filePath("f.raw"); });
        w.slotOpenRecording();
        QCOMPARE(w.sourceKind(), SourceKind::FusionRecording);
        w.slotSaveAs();
        QCOMPARE(dialogs, 0);
        QCOMPARE(exports.count(), 0);
        QCOMPARE(tips.count(), 3);
        for (const Notice& n : notices(tips)) {
            QCOMPARE(n.text, QString("Please open a raw file first."));
            QCOMPARE(n.type, KvMessageType::Warning);
            QCOMPARE(n.path, QString());
        }
    }

    void presetsAndWhatTheWindowSends() {
        MainWidget w;
        openRecording(w);
        w.timeline()->setHandleMode(KvThreeHandleSlider::ThreeHandles);
        w.timeline()->setCenterValue(kFirst + 500000);
        w.timeline()->setLowerValue(kFirst + 200000);
        w.timeline()->setUpperValue(kFirst + 900000);
        QSignalSpy exports(&w, &MainWidget::signalExportVideo);
        QSignalSpy cuts(&w, &MainWidget::signalCutRawFile);
        ThreadSafeSignalSpy jobTips(w.rawProcessor(), &KvEventProcessor::signalShowLeftBottomTips);

        // Presets; a rejected dialog sends nothing.
        QString name, folder;
        uint64_t start = 0, end = 0;
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        w.setRunRangeDialog([&](KvRangeFileDialog& d) {
            name = d.fileName(), folder = d.savePath();
            start = d.startTime(), end = d.endTime();
            return false;
        });
        w.slotSaveAs();
        QCOMPARE(start, kFirst + 200000);
        QCOMPARE(end, kFirst + 900000);
        QCOMPARE(folder, AppConfig::instance().video_save_path);
        QVERIFY2(QRegularExpression("^\\d{8}_\\d{6}\\.mp4$").match(name).hasMatch(),
                 qPrintable(name));
        const QDateTime stamp = QDateTime::fromString(name.left(15), "yyyyMMdd_HHmmss");
        QVERIFY(stamp >= before && stamp <= QDateTime::currentDateTime());
        w.slotCutRecording();
        QCOMPARE(folder, AppConfig::instance().output_raw_file_path);
        QVERIFY(name.endsWith(".raw"));
        QCOMPARE(exports.count() + cuts.count(), 0);

        // Five billion passes unchanged, letters read as 0; both ranges lie
        // outside the recording, so each job ends with one failure notice.
        QTemporaryDir out;
        w.setRunRangeDialog([&](KvRangeFileDialog& d) {
            d.setSavePath(out.path());
            d.setFileName("far.mp4");
            d.setStartTime(5000000000ull);
            return true;
        });
        w.slotSaveAs();
        QCOMPARE(exports.count(), 1);
        QCOMPARE(exports.last().at(0).toString(), out.filePath("far.mp4"));
        QCOMPARE(exports.last().at(1).toString(), out.path());
        QCOMPARE(exports.last().at(2).value<uint64_t>(), uint64_t(5000000000ull));
        QCOMPARE(exports.last().at(3).value<uint64_t>(), kFirst + 900000);
        waitForJobs(w.rawProcessor());
        QTRY_COMPARE(jobTips.count(), 1);  // the refusal's text is checked with the other refusals

        w.setRunRangeDialog([&](KvRangeFileDialog& d) {
            d.setSavePath(out.path());
            d.setFileName("early.raw");
            d.findChild<QLineEdit*>("le_start_time")->setText("abc");
            return true;
        });
        w.slotCutRecording();
        QCOMPARE(cuts.last().at(2).value<uint64_t>(), uint64_t(0));
        waitForJobs(w.rawProcessor());
        QTRY_COMPARE(jobTips.count(), 2);
        QCOMPARE(notices(jobTips).last().type, KvMessageType::Error);
        QVERIFY(notices(jobTips).last().text.startsWith("Cut recording failed."));
        QVERIFY(filesIn(out.path()).isEmpty());
    }

    void replaceQuestionAndTheRecordingItself() {
        MainWidget w;
        openRecording(w);
        QTemporaryDir out;
        QFile existing(out.filePath("old.raw"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("keep");
        existing.close();
        QSignalSpy cuts(&w, &MainWidget::signalCutRawFile);
        QSignalSpy tips(&w, &MainWidget::signalShowLeftBottomTips);
        QString target = out.filePath("old.raw");
        w.setRunRangeDialog([&](KvRangeFileDialog& d) {
            const QFileInfo f(target);
            d.setSavePath(f.absolutePath());
            d.setFileName(f.fileName());
            return true;
        });
        int asked = 0;
        bool replace = false;
        w.setAskUser([&](const QString&, const QString& text, const QString&, const QString&) {
            ++asked;
            return text.contains("old.raw") && replace;
        });
        w.slotCutRecording();
        QCOMPARE(asked, 1);
        QCOMPARE(cuts.count(), 0);  // declined: nothing written
        replace = true;
        w.slotCutRecording();
        QCOMPARE(cuts.count(), 1);
        waitForJobs(w.rawProcessor());
        QVERIFY(QFileInfo(target).size() > 100);  // replaced by the cut

        // The recording being played is never the target, whatever the answer.
        target = recording_;
        const qint64 size = QFileInfo(recording_).size();
        w.slotCutRecording();
        QCOMPARE(asked, 2);
        QCOMPARE(cuts.count(), 1);
        QTRY_COMPARE(tips.count(), 1);
        QCOMPARE(notices(tips).last().type, KvMessageType::Error);
        QVERIFY(notices(tips).last().text.startsWith("Cut recording failed."));
        QCOMPARE(QFileInfo(recording_).size(), size);
    }

    void exportAndCutSucceedWithOneNoticeEach() {
        MainWidget w;
        openRecording(w);
        KvEventProcessor* p = w.rawProcessor();
        QTemporaryDir out;
        ThreadSafeSignalSpy tips(p, &KvEventProcessor::signalShowLeftBottomTips);
        ThreadSafeSignalSpy loading(p, &KvEventProcessor::signalLoadingStatus);
        const uint64_t start = kFirst + 100000, end = kFirst + 400000;
        QString name = "clip.mp4";
        w.setRunRangeDialog([&](KvRangeFileDialog& d) {
            d.setSavePath(out.path());
            d.setFileName(name);
            d.setStartTime(start);
            d.setEndTime(end);
            return true;
        });
        const uint64_t interval = p->frameInterval();
        w.slotSaveAs();
        waitForJobs(p);
        QTRY_COMPARE(loading.count(), 2);
        QCOMPARE(loading.at(0).at(0).toBool(), true);
        QCOMPARE(loading.at(1).at(0).toBool(), false);
        QTRY_COMPARE(tips.count(), 1);
        QCOMPARE(notices(tips).at(0).text, QString("Export video success!"));
        QCOMPARE(notices(tips).at(0).type, KvMessageType::Success);
        QCOMPARE(notices(tips).at(0).path, out.path());
        const kvtest::VideoFacts v =
            kvtest::readVideo(out.filePath("clip.mp4").toStdString(), false);
        QVERIFY(v.opened);
        QCOMPARE(uint64_t(v.packets), korvane::videoFrameCount(start, end, interval));
        QCOMPARE(v.width, 1280);
        QTRY_VERIFY(!w.waitingWindow()->isVisible());
        QCOMPARE(w.waitingWindow()->progress(), -1);  // reset for the next job
        QVERIFY(!w.waitingWindow()->isCancellable());

        name = "clip.raw";
        w.slotCutRecording();
        waitForJobs(p);
        QTRY_COMPARE(tips.count(), 2);
        QCOMPARE(notices(tips).at(1).text, QString("Export raw file success!"));
        QCOMPARE(notices(tips).at(1).type, KvMessageType::Success);
        auto cut = korvane::DvsFileReader::createFileReader(out.filePath("clip.raw").toStdString());
        QVERIFY(cut && cut->openForReading());
        uint64_t first = 0, last = 0;
        QVERIFY(cut->getStartTime(first) && cut->getEndTime(last));
        QVERIFY(first >= start && last <= end && last > first);
        QCOMPARE(filesIn(out.path()), QStringList({"clip.mp4", "clip.raw"}));
    }

    void longExportShowsProgressCancelsAndBlocksOpening() {
        // Another recording under File > Recent, to be refused while the job runs.
        const QString other = writeRecording(dir_.filePath("other.raw"), kScene);
        AppConfig::instance().recent_recordings = QStringList{other};
        MainWidget w;
        w.show();
        openRecording(w);
        const QString title = w.windowTitle();
        KvEventProcessor* p = w.rawProcessor();
        p->setFps(3000);  // a frame every 333 us: thousands of frames
        QTemporaryDir out;
        ThreadSafeSignalSpy tips(p, &KvEventProcessor::signalShowLeftBottomTips);
        QSignalSpy windowTips(&w, &MainWidget::signalShowLeftBottomTips);
        QSignalSpy opens(&w, &MainWidget::signalOpenRawFile);
        w.setRunRangeDialog([&](KvRangeFileDialog& d) {
            d.setSavePath(out.path());
            d.setFileName("long.mp4");
            return true;
        });
        w.slotSaveAs();
        WaitingWin* waiting = w.waitingWindow();
        QTRY_VERIFY_WITH_TIMEOUT(waiting->isVisible() && waiting->isCancellable(), 20000);
        QTRY_VERIFY(waiting->progressText().endsWith("%"));
        QVERIFY(p->jobRunning());

        // Every way of opening another recording or a camera is refused
        // with one notice, and the open recording stays as it is.
        QAction* recent = nullptr;
        for (QAction* a : w.recentMenu()->actions())
            if (a->data().toString() == other) recent = a;
        QVERIFY(recent);
        chooseSerial(w, "KVSIM-EVK4-0001");
        const QList<std::function<void()>> ways{
            [&] { w.slotOpenRecording(); },
            [&] { dropFile(w, other); },
            [&] { recent->trigger(); },
            [&] { w.slotOpenCamera(); },
        };
        for (const auto& open : ways) {
            const qsizetype before = windowTips.count();
            open();
            QCOMPARE(windowTips.count(), before + 1);
            const Notice n = notices(windowTips).last();
            QCOMPARE(n.text, QString("Please wait until the export or cut has finished."));
            QCOMPARE(n.type, KvMessageType::Warning);
            QCOMPARE(opens.count(), 0);
            QCOMPARE(w.sourceKind(), SourceKind::DvsRecording);
            QCOMPARE(w.openRecording(), recording_);
            QCOMPARE(w.windowTitle(), title);
            QVERIFY(p->jobRunning());
        }
        // The processor's own refusal is told as well.
        p->loadFile(other);
        QVERIFY(p->hasReader());
        QVERIFY(p->isCurrentRecording(recording_));
        QTRY_COMPARE(tips.count(), 1);
        QCOMPARE(notices(tips).at(0).text,
                 QString("Please wait until the export or cut has finished."));
        QCOMPARE(notices(tips).at(0).type, KvMessageType::Warning);

        QTest::keyClick(waiting, Qt::Key_Escape);
        waitForJobs(p);
        QTRY_VERIFY(!waiting->isVisible());
        QTRY_COMPARE(tips.count(), 2);
        QCOMPARE(notices(tips).at(1).text, QString("Export video cancelled."));
        QCOMPARE(notices(tips).at(1).type, KvMessageType::Warning);
        QVERIFY(filesIn(out.path()).isEmpty());
        // The recording plays on once the job is over.
        QVERIFY(w.form()->pb_play->isEnabled() && w.form()->pb_next->isEnabled());
        QCOMPARE(w.openRecording(), recording_);
        p->setFps(30);
    }

    void framesStepWhileACutScans() {
        QTemporaryDir out;
        KvEventProcessor p;
        loadAndWait(p, recording_);
        p.slotPlaybackCtrl(false);
        // The cut stops inside its scan, on its first progress, until released
        // (or half a minute has passed).
        std::atomic<bool> inScan{false}, passed{false};
        QSemaphore release;
        connect(
            p.jobProgress(), &KvJobProgress::signalProgress, p.jobProgress(),
            [&](int) {
                if (inScan.exchange(true)) return;
                release.tryAcquire(1, 30000);
                passed = true;
            },
            Qt::DirectConnection);
        ThreadSafeSignalSpy tips(&p, &KvEventProcessor::signalShowLeftBottomTips);
        ThreadSafeSignalSpy positions(&p, &KvEventProcessor::signalRealTimeTimeStamp);
        p.slotCutRawFile(out.filePath("cut.raw"), out.path(), p.lowerBound(), p.upperBound());
        QTRY_VERIFY_WITH_TIMEOUT(inScan.load(), 20000);

        // Steps and seeks are answered while the cut is still held, and show
        // the windows asked for.
        const uint64_t lower = p.lowerBound(), interval = p.frameInterval();
        p.nextFrame();
        p.nextFrame();
        p.preFrame();
        QCOMPARE(p.currentPosition(), lower + interval);
        p.setPlayPos(lower + 5 * interval);
        QCOMPARE(p.currentPosition(), lower + 5 * interval + p.accumulationTime());
        p.slotPlaybackReset();
        QCOMPARE(p.currentPosition(), lower);
        QVERIFY2(!passed.load(), "a step waited for the cut");
        QVERIFY(p.jobRunning());
        QList<uint64_t> shown;
        for (const auto& args : positions)
            shown << args.at(0).value<uint64_t>();
        QCOMPARE(shown, (QList<uint64_t>{lower + interval, lower + 2 * interval, lower + interval,
                                         lower + 5 * interval + p.accumulationTime(), lower}));

        // Cancelled, the cut ends with one notice and leaves no file.
        p.cancelExport();
        release.release();
        QTRY_VERIFY_WITH_TIMEOUT(!p.jobRunning(), 30000);
        QTRY_COMPARE(tips.count(), 1);
        QCOMPARE(notices(tips).at(0).text, QString("Cut recording cancelled."));
        QCOMPARE(notices(tips).at(0).type, KvMessageType::Warning);
        QVERIFY(filesIn(out.path()).isEmpty());
    }

    void jobRefusalsAndSilentRanges() {
        // Two bursts with a silent stretch between them.
        QTemporaryDir out;
        const QString gap = out.filePath("gap.raw");
        QVERIFY(kvtest::writeGapRecording(gap.toStdString(), 20));
        KvEventProcessor p;
        loadAndWait(p, gap);
        p.slotPlaybackCtrl(false);
        ThreadSafeSignalSpy tips(&p, &KvEventProcessor::signalShowLeftBottomTips);
        // Start after end, or past the recording's end: refused with the
        // reason, no file. A silent range inside the recording: a video of
        // background frames, but no RAW file without events. A folder that
        // does not exist. Each job ends with one notice.
        struct Case {
            bool cut;
            const char* name;
            uint64_t from, to;
            KvMessageType type;
            QString text;
            bool exact;  // the whole text, or how it starts
        };
        // The libraries' reasons reach the user as translatable sentences.
        const struct {
            std::string driver;
            QString shown;
        } reasons[] = {
            {"no events in range", "There are no events in the range."},
            {"output is a directory", "The target is a folder."},
            {"output is being written by another recording", "A recording is writing the target."},
            {"cannot create /no/such.mp4: " + std::string(std::strerror(ENOENT)),
             "The file cannot be created: The folder does not exist."},
            {"cannot open: " + std::string(std::strerror(EACCES)), "Permission denied."},
            {std::strerror(ENOSPC), "The disk is full."},
            {"cannot open the H.264 encoder: Invalid argument", "The file cannot be written."},
        };
        for (const auto& r : reasons)
            QCOMPARE(jobFailureReason(r.driver), r.shown);
        const QString backwards = "failed.\nThe start time is after the end time.";
        QList<Case> cases{
            {false, "back.mp4", 300000, 200000, KvMessageType::Error, "Export video " + backwards,
             true},
            {true, "back.raw", 300000, 200000, KvMessageType::Error, "Cut recording " + backwards,
             true},
            {true, "late.raw", 650000, 900000, KvMessageType::Error, "Cut recording failed.",
             false},
            {false, "silent.mp4", 200000, 400000, KvMessageType::Success, "", false},
            {true, "silent.raw", 200000, 400000, KvMessageType::Error,
             "Cut recording failed.\nThere are no events in the range.", true},
            {true, "none/x.raw", 0, 50000, KvMessageType::Error,
             "Cut recording failed.\nThe folder does not exist.", true},
            {false, "none/x.mp4", 0, 50000, KvMessageType::Error,
             "Export video failed.\nThe folder does not exist.", true},
        };
        // A folder that is there but takes no files is not said to be missing
        // (the system answers "no such file" in /proc, even to root).
        if (QFileInfo("/proc").isDir()) {
            cases << Case{false,
                          "/proc/velqora-x.mp4",
                          0,
                          50000,
                          KvMessageType::Error,
                          "Export video failed.\nThe folder cannot be written.",
                          true}
                  << Case{true,
                          "/proc/velqora-x.raw",
                          0,
                          50000,
                          KvMessageType::Error,
                          "Cut recording failed.\nThe folder cannot be written.",
                          true};
        }
        QCOMPARE(jobFailureReason("cannot create " + out.filePath("x.mp4").toStdString() + ": " +
                                      std::strerror(ENOENT),
                                  out.filePath("x.mp4")),
                 QString("The file cannot be created: The folder cannot be written."));
        for (const Case& c : cases) {
            const QString path = QDir::isAbsolutePath(c.name) ? c.name : out.filePath(c.name);
            const QString folder = QFileInfo(path).absolutePath();
            const qsizetype before = tips.count();
            if (c.cut)
                p.slotCutRawFile(path, folder, c.from, c.to);
            else
                p.slotExportVideo(path, folder, c.from, c.to);
            QTRY_VERIFY_WITH_TIMEOUT(!p.jobRunning() && tips.count() == before + 1, 30000);
            const Notice n = notices(tips).last();
            QVERIFY2(n.type == c.type, c.name);
            QVERIFY2(c.exact ? n.text == c.text : n.text.startsWith(c.text),
                     qPrintable(QString(c.name) + ": " + n.text));
        }
        QCOMPARE(filesIn(out.path()), QStringList({"gap.raw", "silent.mp4"}));
    }

    void destroyingTheProcessorCancelsAndJoinsItsJobs() {
        QTemporaryDir out;
        auto* p = new KvEventProcessor;
        loadAndWait(*p, recording_);
        p->slotPlaybackCtrl(false);
        p->setFps(3000);
        ThreadSafeSignalSpy progress(p->jobProgress(), &KvJobProgress::signalProgress);
        p->slotExportVideo(out.filePath("gone.mp4"), out.path(), p->lowerBound(), p->upperBound());
        p->slotCutRawFile(out.filePath("cut.raw"), out.path(), p->lowerBound(), p->upperBound());
        QTRY_VERIFY_WITH_TIMEOUT(progress.count() >= 2, 20000);
        delete p;  // returns only when both jobs have ended
        QVERIFY(!QFileInfo::exists(out.filePath("gone.mp4")));
        for (const QString& f : filesIn(out.path()))
            QCOMPARE(f, QString("cut.raw"));  // the cut runs to its end, the export does not
    }
};

VELQORA_TEST_MAIN(ExportTest)
#include "test_export.moc"
