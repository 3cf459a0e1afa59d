// The main window as a user meets it: what is enabled when, opening and
// playing recordings end to end, unplayable files, title and status line,
// recent recordings, drops, keys, notices, the frameless window's own moves
// and looks, seeking while playing and the pop-ups without a compositor.

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>
#include <QUrl>
#include <fstream>
#include <thread>

#include "AppConfig.h"
#include "AppTestMain.h"
#include "Utils/FuncUtils.h"
#include "KvLabelElider.h"
#include "ShowImageForm.h"
#include "ThreadSafeSignalSpy.h"
#include "WindowTestSupport.h"
#include "WindowTranslucency.h"

namespace {

QString writeFile(const QString& path, const std::string& bytes) {
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << bytes;
    return path;
}

uint64_t parseTime(const QString& text) {  // mm:ss:uuuuuu
    const QStringList parts = text.split(':');
    if (parts.size() != 3) return 0;
    return parts[0].toULongLong() * 60000000ull + parts[1].toULongLong() * 1000000ull +
           parts[2].toULongLong();
}

bool isPlaceholder(const QPixmap& pixmap) {
    const QImage img = pixmap.toImage();
    for (int y = 0; y < img.height(); y += 37)
        for (int x = 0; x < img.width(); x += 41)
            if (img.pixelColor(x, y) != QColor("#707070")) return false;
    return true;
}

QMimeData* urls(const QList<QUrl>& list) {
    auto* mime = new QMimeData;
    mime->setUrls(list);
    return mime;
}

}  // namespace

class MainWidgetTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString recording_;

private slots:
    void initTestCase() {
        recording_ = writeRecording(dir_.filePath("demo.raw"), 3000000, 500000, "KVSIM0042");
        AppConfig::instance().recent_recordings.clear();
    }
    void cleanup() {
        closeToasts();
        overrideTranslucentWindows(std::nullopt);
    }

    void timeAndRateTexts() {
        QCOMPARE(formatTimestamp(0), QString("00:00:000000"));
        QCOMPARE(formatTimestamp(61234567), QString("01:01:234567"));
        QCOMPARE(formatTimestamp(3600000000ull), QString("60:00:000000"));
        QCOMPARE(formatTimestamp(999), QString("00:00:000999"));
        QCOMPARE(formatEventRate(2454000.0), QString("2.45 Mev/s"));
        QCOMPARE(formatEventRate(12500.0), QString("12.5 kev/s"));
        QCOMPARE(formatEventRate(800.0), QString("800 ev/s"));
        QCOMPARE(formatEventRate(0.0), QString("0 ev/s"));
        QCOMPARE(formatEventRate(1000.0), QString("1.0 kev/s"));  // a small limit is not "0.0"
        QCOMPARE(formatBandwidth(10485760.0), QString("10.00 MB/s"));
        QCOMPARE(formatBandwidth(4096.0), QString("4.0 KB/s"));
        QCOMPARE(formatBandwidth(800.0), QString("800 B/s"));
    }

    void windowTitleSizeAndViewerType() {
        MainWidget w;
        QCOMPARE(w.windowTitle(), QString("Widget"));
        QCOMPARE(w.minimumSize(), QSize(1000, 650));
        QCOMPARE(w.size(), QSize(1000, 650));
        QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(w.form()->label_time->text(), QString("--/ --"));
        QVERIFY(!w.timeline()->isEnabled());
        QCOMPARE(w.timeline()->handleMode(), KvThreeHandleSlider::SingleHandle);

        QSignalSpy types(&w, &MainWidget::signalSetViewerShowType);
        QCOMPARE(w.viewerType(), korvane::STREAM_BOTH);
        for (int i = 0; i < 3; ++i)
            w.form()->pb_viewer_type->click();
        QCOMPARE(types.count(), 3);
        QCOMPARE(types.at(0).at(0).value<korvane::STREAM_TYPE>(), korvane::STREAM_DVS);
        QCOMPARE(types.at(1).at(0).value<korvane::STREAM_TYPE>(), korvane::STREAM_APS);
        QCOMPARE(types.at(2).at(0).value<korvane::STREAM_TYPE>(), korvane::STREAM_BOTH);
        QCOMPARE(w.viewerType(), korvane::STREAM_BOTH);
    }

    void openRecordingRules() {
        QTemporaryDir dir;
        QFile(dir.filePath("a.mp4")).open(QIODevice::WriteOnly);
        // Recordings that open: an empty file is refused before anything happens.
        for (const char* name : {"a.raw", "b.raw", "a.b.raw"})
            QFile::copy(recording_, dir.filePath(name));
        MainWidget w;
        QSignalSpy raw(&w, &MainWidget::signalOpenRawFile);
        QSignalSpy fusion(&w, &MainWidget::signalOpenFusionFile);
        const QString before = AppConfig::instance().input_raw_file_path;
        QString asked;
        w.setOpenFileDialog(
            [&](const QString& caption, const QString& start, const QString& filter) {
                asked = caption + "|" + start + "|" + filter;
                return QString();
            });
        w.action("Open Recording")->trigger();  // cancelled: nothing changes
        QCOMPARE(asked, "Select a raw file|" + before + "|RAW files (*.raw)");
        QCOMPARE(raw.count(), 0);
        QCOMPARE(w.sourceKind(), SourceKind::Nothing);
        QVERIFY(!w.form()->pb_next->isEnabled());

        QString pick = dir.filePath("a.raw");
        w.setOpenFileDialog([&](const QString&, const QString&, const QString&) { return pick; });
        w.slotOpenRecording();
        QCOMPARE(w.sourceKind(), SourceKind::FusionRecording);
        QCOMPARE(raw.last().at(0).toString(), QString());
        QCOMPARE(fusion.last().at(0).toString(), dir.filePath("a.mp4"));
        QCOMPARE(AppConfig::instance().input_raw_file_path, QDir(dir.path()).absolutePath());
        for (QWidget* b :
             {static_cast<QWidget*>(w.form()->pb_loop), static_cast<QWidget*>(w.form()->pb_next),
              static_cast<QWidget*>(w.form()->pb_prv), static_cast<QWidget*>(w.form()->pb_stop),
              static_cast<QWidget*>(w.timeline())}) {
            QVERIFY(b->isEnabled());
        }
        pick = dir.filePath("a.b.raw");  // looks for a.b.mp4, not a.mp4
        w.slotOpenRecording();
        QCOMPARE(w.sourceKind(), SourceKind::DvsRecording);
        QCOMPARE(raw.last().at(0).toString(), pick);
        QCOMPARE(fusion.last().at(0).toString(), QString());
        AppConfig::instance().input_raw_file_path = before;
    }

    // Notices sit at the picture's bottom left, stacked, and hide no control
    // (they once covered the record button and took its clicks).
    void noticesSitAtTheBottomLeftOverNoControl() {
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        QTemporaryDir dir;
        w.slotShowLeftBottomTips("Save file success!", KvMessageType::Success,
                                 dir.filePath("deleted.raw"));
        w.slotShowLeftBottomTips("A second notice whose text is long enough to take two lines.",
                                 KvMessageType::Warning);
        KvFilePathReminderForm* toast = noticeSaying("Save file success!");
        KvFilePathReminderForm* second =
            noticeSaying("A second notice whose text is long enough to take two lines.");
        QVERIFY(toast && second);
        QWidget* picture = w.form()->widget_show_image;
        const QRect pictureRect(picture->mapToGlobal(QPoint(0, 0)), picture->size());
        QCOMPARE(toast->geometry().bottomLeft(),
                 pictureRect.bottomLeft() +
                     QPoint(KvFilePathReminderForm::kMargin, -KvFilePathReminderForm::kMargin));
        QVERIFY(!toast->geometry().intersects(second->geometry()));
        for (QWidget* control : w.findChildren<QWidget*>()) {
            const bool isControl = qobject_cast<QAbstractButton*>(control) ||
                                   qobject_cast<QLineEdit*>(control) ||
                                   qobject_cast<QAbstractSlider*>(control);
            if (!isControl || !control->isVisible()) continue;
            const QRect at(control->mapToGlobal(QPoint(0, 0)), control->size());
            QVERIFY2(!at.intersects(toast->geometry()) && !at.intersects(second->geometry()),
                     qPrintable(control->objectName()));
        }
        QCOMPARE(toast->directory(), QDir(dir.path()).absolutePath());  // the deleted file's folder
        QVERIFY(toast->hasOpenDirButton());
    }

    // Drives the window as a user would: open, watch, pause, step, seek, loop, bounds.
    void playsARecordingEndToEnd() {
        MainWidget w;
        w.setOpenFileDialog(
            [&](const QString&, const QString&, const QString&) { return recording_; });
        QVERIFY(shownOnScreen(w));
        KvEventProcessor* p = w.rawProcessor();
        auto* image = w.form()->widget_show_image;
        ThreadSafeSignalSpy frames(p, &KvEventProcessor::signalEventImage);

        w.action("Open Recording")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(w.form()->pb_play->isChecked(), 10000);  // loading starts playing
        QTRY_VERIFY_WITH_TIMEOUT(frames.count() >= 3, 5000);
        // Event pixels appear (the Gray background is the placeholder's grey itself).
        auto eventPixels = [&] {
            const QImage shown = image->pixmap().toImage().convertToFormat(QImage::Format_RGB888);
            int n = 0;
            for (int y = 0; y < shown.height(); y += 4)
                for (int x = 0; x < shown.width(); x += 4)
                    n += shown.pixelColor(x, y) != QColor("#707070");
            return n;
        };
        QTRY_VERIFY(eventPixels() > 100);
        QCOMPARE(w.timeline()->minimum(), p->lowerBound());
        QCOMPARE(w.timeline()->maximum(), p->upperBound());
        QTRY_VERIFY(parseTime(w.form()->label_show_timestamp_info->text()) > 500);
        QVERIFY(
            w.form()->label_time->text().endsWith("/" + formatTimestamp(w.timeline()->maximum())));
        QTRY_VERIFY(!w.waitingWindow()->isVisible());

        // Space pauses and resumes.
        w.activateWindow();
        QTest::keyClick(&w, Qt::Key_Space);
        QVERIFY(!w.form()->pb_play->isChecked());
        QTRY_VERIFY(!p->isPlaying());
        const uint64_t paused = p->currentPosition();
        QTest::qWait(150);
        QCOMPARE(p->currentPosition(), paused);
        QTest::keyClick(&w, Qt::Key_Space);
        QTRY_VERIFY(p->isPlaying());
        QTRY_VERIFY(p->currentPosition() > paused);

        // Left and Right step one frame while stopped.
        QTest::keyClick(&w, Qt::Key_Space);
        QTRY_VERIFY(!p->isPlaying());
        const uint64_t here = p->currentPosition();
        QTest::keyClick(&w, Qt::Key_Right);
        QCOMPARE(p->currentPosition(), here + p->frameInterval());
        QTest::keyClick(&w, Qt::Key_Left);
        QCOMPARE(p->currentPosition(), here);
        QTRY_COMPARE(parseTime(w.form()->label_show_timestamp_info->text()), here);

        // A press on the timeline seeks; dragging its play handle seeks again.
        KvThreeHandleSlider* t = w.timeline();
        const int y = t->height() / 2;
        QTest::mousePress(t, Qt::LeftButton, {}, QPoint(t->width() * 3 / 4, y));
        QTest::mouseRelease(t, Qt::LeftButton, {}, QPoint(t->width() * 3 / 4, y));
        QVERIFY(t->centerValue() > t->minimum() + (t->maximum() - t->minimum()) / 2);
        // The processor reports the start of the next window, and the play handle follows it.
        QTRY_COMPARE(p->currentPosition(), t->centerValue());
        dragTimeline(t, t->centerHandleRect().center(), -100);
        QTRY_COMPARE(p->currentPosition(), t->centerValue());
        QVERIFY(t->centerValue() < t->maximum() * 3 / 4);

        // Loop on: playback runs past the end and starts over.
        w.form()->pb_loop->click();
        QVERIFY(w.form()->pb_loop->isChecked());
        t->setCenterValue(t->maximum() - 50000);
        p->setPlayPos(t->maximum() - 50000);
        ThreadSafeSignalSpy positions(p, &KvEventProcessor::signalRealTimeTimeStamp);
        w.form()->pb_play->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const auto& args : positions)
                    if (args.at(0).value<uint64_t>() < t->maximum() / 2) return true;
                return false;
            }(),
            3000);
        QVERIFY(p->isPlaying());
        w.form()->pb_play->setChecked(false);
        QTRY_VERIFY(!p->isPlaying());

        // Start/end points: the bounds reach the processor, the range numbers show meanwhile.
        QLabel* range = w.form()->label_range;
        auto rangeText = [&] {
            return QString("Start %1 | End %2 | Length %3")
                .arg(formatTimestamp(t->lowerValue()), formatTimestamp(t->upperValue()),
                     formatTimestamp(t->upperValue() - t->lowerValue()));
        };
        QVERIFY(range->isHidden());
        w.action("Toggle Start/End Point")->trigger();
        QCOMPARE(t->handleMode(), KvThreeHandleSlider::ThreeHandles);
        QCOMPARE(p->lowerBound(), t->minimum());
        QCOMPARE(p->upperBound(), t->maximum());
        QVERIFY(!range->isHidden());
        QCOMPARE(range->text(), rangeText());
        QVERIFY(range->text().startsWith("Start " + formatTimestamp(t->minimum())));
        // With a panel open at the least window size the numbers may not
        // fit: then they end in an ellipsis and the tip holds them whole.
        w.resize(w.minimumSize());
        w.form()->pb_fold_setting->click();
        QTRY_VERIFY(!w.form()->frame_setting->isHidden());
        QCoreApplication::processEvents();
        range->repaint();
        const bool whole =
            range->fontMetrics().horizontalAdvance(range->text()) <= range->contentsRect().width();
        QVERIFY2(whole || (KvLabelElider::shownText(range) != range->text() &&
                           range->toolTip() == range->text()),
                 qPrintable(KvLabelElider::shownText(range)));
        w.form()->pb_fold_setting->click();
        t->setCenterValue((t->minimum() + t->maximum()) / 2);
        dragTimeline(t, t->lowerHandleRect().center(), 120);
        QVERIFY(t->lowerValue() > t->minimum());
        QCOMPARE(p->lowerBound(), t->lowerValue());
        QCOMPARE(range->text(), rangeText());
        w.action("Toggle Start/End Point")->trigger();
        QCOMPARE(t->handleMode(), KvThreeHandleSlider::SingleHandle);
        QCOMPARE(p->lowerBound(), t->minimum());
        QVERIFY(range->isHidden());
    }

    // Nothing open: nothing can be played, and Space does not pretend it can.
    void playBarWaitsForALoadedRecording() {
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        QVERIFY(!w.form()->pb_play->isEnabled());
        // Nothing open: no caption without a value on the status line, and no
        // record time while nothing records.
        QVERIFY(w.form()->lb_status_bar->text().isEmpty());
        QCOMPARE(w.form()->lb_recoding_time->text(), QString());
        for (QWidget* l : {static_cast<QWidget*>(w.form()->label_show_play_text),
                           static_cast<QWidget*>(w.form()->label_show_camera_info),
                           static_cast<QWidget*>(w.form()->label_show_play_text2),
                           static_cast<QWidget*>(w.form()->label_show_timestamp_info)})
            QVERIFY2(l->isHidden(), qPrintable(l->objectName()));
        QTest::keyClick(&w, Qt::Key_Space);
        QVERIFY(!w.form()->pb_play->isChecked());

        w.openRecordingPath(recording_);
        QVERIFY(!w.form()->pb_play->isEnabled());  // disabled while it loads
        QVERIFY(!w.timeline()->isEnabled());
        QTest::keyClick(&w, Qt::Key_Space);  // ignored while it loads: no dead "playing"
        QVERIFY(!w.form()->pb_play->isChecked());
        QVERIFY(waitUntilLoaded(w));
        QTRY_VERIFY(w.rawProcessor()->isPlaying());
        QVERIFY(w.form()->pb_play->isChecked());
        QVERIFY(w.timeline()->isEnabled());
        QCOMPARE(w.windowTitle(), QString("demo.raw - Widget"));
        QCOMPARE(w.form()->label_app_name->text(), QString("demo.raw - Velqora"));
        QCOMPARE(w.form()->label_show_camera_info->text(), QString("KVSIM0042"));
        QVERIFY(!w.form()->label_show_play_text->isHidden());
        QVERIFY(!w.form()->label_show_timestamp_info->isHidden());
        QCOMPARE(w.form()->label_show_play_text2->text(), QString(" | Time: "));
        QTRY_VERIFY_WITH_TIMEOUT(w.form()->lb_status_bar->text().startsWith("Event rate: "), 20000);
        QVERIFY(w.form()->lb_status_bar->text().endsWith("ev/s"));
    }

    // A file that cannot be opened is refused with the reason; the
    // recording that was open stays open, in view and playable.
    void unplayableFileKeepsTheOpenRecordingAndSaysWhy() {
        QTemporaryDir dir;
        const std::string header = korvane::generateDvsFileHeader(korvane::DvsFileInfo{});
        std::string noise(300, '\0');
        for (size_t i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 151 + 17) & 0xFF);
        struct Case {
            QString path, why;
        };
        const QList<Case> cases{
            {writeFile(dir.filePath("empty.raw"), ""), "the file is empty"},
            {writeFile(dir.filePath("notes.raw"), std::string(4000, 'x') + "\n"),
             "it is not a RAW recording"},
            {writeFile(dir.filePath("noise.raw"), noise), "it is not a RAW recording"},
            {dir.filePath("gone.raw"), "the file cannot be read"},
            // These two are refused only by the load, after the window let them through.
            {writeFile(dir.filePath("header.raw"), header), "the recording holds no events"},
            {writeFile(dir.filePath("cut.raw"), header.substr(0, header.size() / 2)),
             "the file ends inside its header"},
        };
        for (const Case& c : cases) {
            MainWidget w;
            QVERIFY(shownOnScreen(w));
            w.openRecordingPath(recording_);
            QVERIFY(waitUntilLoaded(w));
            QTRY_VERIFY(!isPlaceholder(w.form()->widget_show_image->pixmap()));
            const uint64_t end = w.timeline()->maximum();
            QVERIFY(end > 0);
            const QStringList recent = AppConfig::instance().recent_recordings;

            w.openRecordingPath(c.path);
            const QString notice =
                "Cannot play " + QFileInfo(c.path).fileName() + ": " + c.why + ".";
            QTRY_VERIFY_WITH_TIMEOUT(noticeSaying(notice), 20000);
            QCOMPARE(noticeSaying(notice)->findChild<QLabel*>("lb_title")->text(),
                     QString("Error"));
            QTRY_VERIFY(w.form()->pb_play->isEnabled());  // the load's refusal arrives queued
            QCOMPARE(w.sourceKind(), SourceKind::DvsRecording);
            QCOMPARE(w.openRecording(), recording_);
            QCOMPARE(AppConfig::instance().recent_recordings, recent);
            QVERIFY(!isPlaceholder(w.form()->widget_show_image->pixmap()));
            QVERIFY(w.form()->pb_play->isEnabled());
            QVERIFY(w.timeline()->isEnabled());
            QCOMPARE(w.timeline()->maximum(), end);
            QCOMPARE(w.windowTitle(), QString("demo.raw - Widget"));
            QCOMPARE(w.form()->label_show_camera_info->text(), QString("KVSIM0042"));
            // Still playable: a step moves the position.
            w.form()->pb_play->setChecked(false);
            QTRY_VERIFY(!w.rawProcessor()->isPlaying());
            w.rawProcessor()->setPlayPos(w.rawProcessor()->lowerBound());
            const uint64_t before = w.rawProcessor()->currentPosition();
            emit w.form()->pb_next->pressed();
            QCOMPARE(w.rawProcessor()->currentPosition(),
                     before + w.rawProcessor()->frameInterval());
            closeToasts();
        }
    }

    // A file that opens but turns out to hold nothing playable (found only
    // by the load) with nothing open before: the view stays empty.
    void recordingFoundEmptyOnLoadWithNothingOpenLeavesTheViewEmpty() {
        QTemporaryDir dir;
        const QString bad = writeFile(dir.filePath("header.raw"),
                                      korvane::generateDvsFileHeader(korvane::DvsFileInfo{}));
        MainWidget w;
        QVERIFY(shownOnScreen(w));

        w.openRecordingPath(bad);
        const QString notice = "Cannot play header.raw: the recording holds no events.";
        QTRY_VERIFY_WITH_TIMEOUT(noticeSaying(notice), 20000);
        QTRY_COMPARE(w.sourceKind(), SourceKind::Nothing);
        QCOMPARE(noticeSaying(notice)->findChild<QLabel*>("lb_title")->text(), QString("Error"));
        QVERIFY(isPlaceholder(w.form()->widget_show_image->pixmap()));
        // A frame the painter finishes after the close stays out of the view.
        QImage late(1280, 720, QImage::Format_RGB888);
        late.fill(Qt::red);
        emit w.rawProcessor()->signalEventImage(late);
        QCoreApplication::processEvents();
        QVERIFY(isPlaceholder(w.form()->widget_show_image->pixmap()));
        QVERIFY(!w.form()->pb_play->isEnabled());
        QVERIFY(!w.form()->pb_play->isChecked());
        QVERIFY(!w.timeline()->isEnabled());
        QCOMPARE(w.timeline()->maximum(), uint64_t(0));
        QCOMPARE(w.form()->label_time->text(), QString("--/ --"));
        QCOMPARE(w.windowTitle(), QString("Widget"));
        QCOMPARE(w.form()->label_app_name->text(), QString("Velqora"));
        QVERIFY(w.form()->label_show_camera_info->text().isEmpty());
        QVERIFY(w.form()->lb_status_bar->text().isEmpty());
        QTest::keyClick(&w, Qt::Key_Space);
        QVERIFY(!w.form()->pb_play->isChecked());
        closeToasts();
    }

    void recentRecordingsKeepTenAndDropMissingOnes() {
        QTemporaryDir dir;
        AppConfig::instance().recent_recordings.clear();
        MainWidget w;
        QVERIFY(!w.recentMenu()->isEnabled());
        QStringList made;
        for (int i = 0; i < 12; ++i) {
            made << writeRecording(dir.filePath(QString("r%1.raw").arg(i)), 100000);
            w.openRecordingPath(made.last());
            QVERIFY(waitUntilLoaded(w));
        }
        QList<QAction*> entries = w.recentMenu()->actions();
        QCOMPARE(entries.size(), MainWidget::kRecentCount);
        QCOMPARE(entries.first()->data().toString(), made.last());  // newest first
        QCOMPARE(entries.last()->data().toString(), made.at(2));
        QCOMPARE(AppConfig::instance().recent_recordings.size(), MainWidget::kRecentCount);

        // Opening one again moves it to the top without a duplicate.
        entries.at(4)->trigger();
        QVERIFY(waitUntilLoaded(w));
        QCOMPARE(w.openRecording(), made.at(7));
        entries = w.recentMenu()->actions();
        QCOMPARE(entries.size(), MainWidget::kRecentCount);
        QCOMPARE(entries.first()->data().toString(), made.at(7));

        // A deleted one is removed when chosen, with a notice.
        QVERIFY(QFile::remove(made.at(5)));
        QAction* gone = nullptr;
        for (QAction* a : w.recentMenu()->actions())
            if (a->data().toString() == made.at(5)) gone = a;
        QVERIFY(gone);
        gone->trigger();
        QVERIFY(!AppConfig::instance().recent_recordings.contains(made.at(5)));
        QCOMPARE(w.recentMenu()->actions().size(), MainWidget::kRecentCount - 1);
        QTRY_VERIFY(
            noticeSaying("r5.raw no longer exists; it was removed from the recent recordings."));
        QCOMPARE(w.openRecording(), made.at(7));  // what was open stays open

        // One that is there but is no file (a folder now) cannot be opened, and says so.
        QVERIFY(QFile::remove(made.at(6)));
        QVERIFY(QDir().mkdir(made.at(6)));
        for (QAction* a : w.recentMenu()->actions())
            if (a->data().toString() == made.at(6)) a->trigger();
        QVERIFY(!AppConfig::instance().recent_recordings.contains(made.at(6)));
        QTRY_VERIFY(
            noticeSaying("r6.raw cannot be opened: it is not a regular file; it was "
                         "removed from the recent recordings."));
        QCOMPARE(w.openRecording(), made.at(7));
    }

    void dropOpensOneRawFile() {
        MainWidget w;
        QVERIFY(w.acceptDrops());
        QSignalSpy raw(&w, &MainWidget::signalOpenRawFile);
        auto enter = [&](QMimeData* mime) {
            QDragEnterEvent e(QPoint(50, 50), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&w, &e);
            const bool accepted = e.isAccepted();
            delete mime;
            return accepted;
        };
        QVERIFY(!enter(urls({QUrl::fromLocalFile(dir_.filePath("notes.txt"))})));
        QVERIFY(!enter(urls({QUrl("https://example.org/a.raw")})));
        QVERIFY(!enter(urls({QUrl::fromLocalFile(recording_), QUrl::fromLocalFile(recording_)})));
        QVERIFY(enter(urls({QUrl::fromLocalFile(recording_)})));

        QMimeData* mime = urls({QUrl::fromLocalFile(recording_)});
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &drop);
        delete mime;
        QCOMPARE(raw.count(), 1);
        QCOMPARE(raw.at(0).at(0).toString(), recording_);
        QCOMPARE(w.sourceKind(), SourceKind::DvsRecording);
        QVERIFY(waitUntilLoaded(w));
        QCOMPARE(w.openRecording(), recording_);
    }

    void keysMoveToTheRangeEndsAndFullScreen() {
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        QCOMPARE(w.action("Open Recording")->shortcut(), QKeySequence("Ctrl+O"));
        QCOMPARE(w.action("Quit")->shortcut(), QKeySequence("Ctrl+Q"));
        QCOMPARE(w.action("Go to Range Start")->shortcut(), QKeySequence(Qt::Key_Home));
        QCOMPARE(w.action("Go to Range End")->shortcut(), QKeySequence(Qt::Key_End));
        QCOMPARE(w.action("Full Screen")->shortcut(), QKeySequence(Qt::Key_F11));
        QVERIFY(w.viewerSettingMenu()->actions().contains(w.action("Full Screen")));

        w.openRecordingPath(recording_);
        QVERIFY(waitUntilLoaded(w));
        KvEventProcessor* p = w.rawProcessor();
        QTRY_VERIFY(p->isPlaying());  // so that End has a playback to stop
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_End);
        QVERIFY(!p->isPlaying());
        QCOMPARE(p->currentPosition(), p->upperBound());
        QTest::keyClick(&w, Qt::Key_Home);
        QCOMPARE(p->currentPosition(), p->lowerBound());
        QTRY_COMPARE(w.form()->label_show_timestamp_info->text(), formatTimestamp(p->lowerBound()));

        // Full screen shows the picture and the play bar only; Esc brings the rest back.
        w.form()->pb_fold_setting->click();
        QVERIFY(w.form()->frame_setting->isVisible());
        QTest::keyClick(&w, Qt::Key_F11);
        QTRY_VERIFY(w.isFullScreen());
        QVERIFY(!w.form()->widget_title_bar->isVisible());
        QVERIFY(!w.form()->pb_menu_file->isVisible());
        QVERIFY(!w.form()->widget_side_bar->isVisible());
        QVERIFY(!w.form()->frame_setting->isVisible());
        QVERIFY(w.form()->widget_show_image->isVisible());
        QVERIFY(w.form()->pb_play->isVisible());
        QTest::keyClick(&w, Qt::Key_Escape);
        QTRY_VERIFY(!w.isFullScreen());
        QVERIFY(w.form()->widget_title_bar->isVisible());
        QVERIFY(w.form()->widget_side_bar->isVisible());
        QVERIFY(w.form()->frame_setting->isVisible());
    }

    // A menu button is not left highlighted once its menu closed with the
    // pointer elsewhere (the open menu kept the pointer's leave from it).
    void menuButtonsLoseTheirHighlightWithTheirMenu() {
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        for (QPushButton* b : {w.form()->pb_menu_file, w.form()->pb_menu_help}) {
            QCursor::setPos(b->mapToGlobal(b->rect().center()));
            b->setAttribute(Qt::WA_UnderMouse, true);  // the pointer was on it for the click
            QMenu* menu = b->menu();
            menu->popup(b->mapToGlobal(QPoint(0, b->height())));
            QTRY_VERIFY(menu->isVisible());
            QCursor::setPos(w.form()->widget_show_image->mapToGlobal(QPoint(200, 200)));
            menu->hide();
            QVERIFY(!b->testAttribute(Qt::WA_UnderMouse));
        }
        // Closed with the pointer still on the button: it stays highlighted.
        QPushButton* file = w.form()->pb_menu_file;
        QCursor::setPos(file->mapToGlobal(file->rect().center()));
        file->menu()->popup(file->mapToGlobal(QPoint(0, file->height())));
        QTRY_VERIFY(file->menu()->isVisible());
        file->menu()->hide();
        QVERIFY(file->testAttribute(Qt::WA_UnderMouse));
    }

    // Centred on every show, a restore from minimised included; Quit closes it.
    void centredOnEveryShowAndQuitCloses() {
        MainWidget w;
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint centre(area.width() / 2 - w.width() / 2, area.height() / 2 - w.height() / 2);
        QVERIFY(shownOnScreen(w));
        QCOMPARE(w.pos(), centre);
        w.move(centre - QPoint(40, 30));
        w.setWindowState(Qt::WindowMinimized);
        w.setWindowState(Qt::WindowNoState);
        QCOMPARE(w.pos(), centre);
        w.move(centre - QPoint(40, 30));
        w.hide();
        w.show();
        QCOMPARE(w.pos(), centre);
        w.action("Quit")->trigger();
        QVERIFY(!w.isVisible());
    }

    // Where no window manager takes the move over, the title bar moves the window itself.
    void titleBarMovesTheWindowWithoutAWindowManager() {
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        QWidget* bar = w.form()->widget_title_space;
        const QPoint start = w.pos();
        const QPoint local(bar->width() / 2, bar->height() / 2);
        const QPoint global = bar->mapToGlobal(local);
        auto send = [&](QEvent::Type type, QPoint delta, Qt::MouseButtons buttons) {
            QMouseEvent e(type, QPointF(local + delta), QPointF(global + delta), Qt::LeftButton,
                          buttons, Qt::NoModifier);
            QApplication::sendEvent(bar, &e);
        };
        send(QEvent::MouseButtonPress, {}, Qt::LeftButton);
        send(QEvent::MouseMove, QPoint(30, 20), Qt::LeftButton);
        send(QEvent::MouseMove, QPoint(-70, 45), Qt::LeftButton);
        QCOMPARE(w.pos(), start + QPoint(-70, 45));
        send(QEvent::MouseButtonRelease, QPoint(-70, 45), Qt::NoButton);
        send(QEvent::MouseMove, QPoint(0, 0), Qt::NoButton);  // released: no more moving
        QCOMPARE(w.pos(), start + QPoint(-70, 45));
    }

    // A double click on the title bar and the button give the same look.
    void maximisedLookFollowsTheWindowState() {
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        auto looksMaximised = [&] {
            const QImage icon = w.form()->pb_win_max->icon().pixmap(16, 16).toImage();
            const QImage restore =
                QIcon(":/img/assets/btn_win_restore.svg").pixmap(16, 16).toImage();
            return icon == restore &&
                   w.form()->widget_title_bar->styleSheet().contains("top-left-radius: 0px");
        };
        QVERIFY(!looksMaximised());
        QTest::mouseDClick(w.form()->widget_title_space, Qt::LeftButton);
        QTRY_VERIFY(w.isMaximized());
        QVERIFY(looksMaximised());
        QTest::mouseDClick(w.form()->widget_title_space, Qt::LeftButton);
        QTRY_VERIFY(!w.isMaximized());
        QVERIFY(!looksMaximised());
        w.form()->pb_win_max->click();
        QTRY_VERIFY(w.isMaximized());
        QVERIFY(looksMaximised());
    }

    // A position sent by playback before a seek must not overwrite the seek's.
    void seekWinsOverPositionsSentBeforeIt() {
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        w.openRecordingPath(recording_);
        QVERIFY(waitUntilLoaded(w));
        KvEventProcessor* p = w.rawProcessor();
        KvThreeHandleSlider* t = w.timeline();
        QTRY_VERIFY(p->isPlaying());
        // What a playback thread may still have on its way when the user clicks.
        std::thread([&] { emit p->signalRealTimeTimeStamp(p->lowerBound() + 1000); }).join();
        const QPoint at(t->width() * 3 / 4, t->height() / 2);
        QTest::mousePress(t, Qt::LeftButton, {}, at);
        QTest::mouseRelease(t, Qt::LeftButton, {}, at);
        QVERIFY(!p->isPlaying());
        const uint64_t shown = p->currentPosition();
        QVERIFY(shown > p->lowerBound() + (p->upperBound() - p->lowerBound()) / 2);
        QTRY_COMPARE(t->centerValue(), shown);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(t->centerValue(), shown);
        QCOMPARE(w.form()->label_show_timestamp_info->text(), formatTimestamp(shown));
        QVERIFY(w.form()->label_time->text().startsWith(formatTimestamp(shown) + "/"));
    }

    void waitingWindowShowsTheIndexedPercent() {
        MainWidget w;
        WaitingWin* waiting = w.waitingWindow();
        QVERIFY(waiting->progressText().isEmpty());
        waiting->setProgress(42);
        QCOMPARE(waiting->progressText(), QString("Indexing the recording: 42%"));
        w.slotSetWaitWinStatus(true);  // a new wait starts without a figure
        QVERIFY(waiting->progressText().isEmpty());
        w.slotSetWaitWinStatus(false);

        QTemporaryDir fresh;  // not indexed yet: the load reports its progress
        const QString path = writeRecording(fresh.filePath("fresh.raw"), 3000000);
        // Sent on the load thread: recorded queued, so waited for.
        ThreadSafeSignalSpy progress(w.rawProcessor(), &KvEventProcessor::signalLoadProgress);
        w.openRecordingPath(path);
        QVERIFY(waitUntilLoaded(w));
        QTRY_VERIFY(!progress.isEmpty() && progress.last().at(0).toInt() == 100);
    }

    void loopLooksCheckedAtAGlance() {
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        QPushButton* loop = w.form()->pb_loop;
        loop->setEnabled(true);
        const QColor off = loop->grab().toImage().pixelColor(3, loop->height() / 2);
        loop->setChecked(true);
        const QColor on = loop->grab().toImage().pixelColor(3, loop->height() / 2);
        QCOMPARE(on, QColor("#CFE3EC"));
        QVERIFY(off != on);
    }

    void popUpsStayOpaqueWithoutACompositor() {
        overrideTranslucentWindows(false);
        {
            MainWidget w;
            QVERIFY(!w.viewerSettingMenu()->testAttribute(Qt::WA_TranslucentBackground));
            QVERIFY(!w.recentMenu()->testAttribute(Qt::WA_TranslucentBackground));
            QVERIFY(!w.waitingWindow()->testAttribute(Qt::WA_TranslucentBackground));
        }
        overrideTranslucentWindows(true);
        MainWidget w;
        QVERIFY(w.viewerSettingMenu()->testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(w.waitingWindow()->testAttribute(Qt::WA_TranslucentBackground));
    }

    // Every text a user meets in the new parts exists in Chinese.
    void newTextsAreTranslated() {
        QTranslator zh;
        QVERIFY(zh.load(":/app_zh.qm"));
        const char* const texts[][2] = {
            {"MainWidget", "Go to Range Start"},
            {"MainWidget", "Go to Range End"},
            {"MainWidget", "Full Screen"},
            {"MainWidget", "Recent recordings"},
            {"MainWidget", "Event rate: %1"},
            {"MainWidget", "%1 no longer exists; it was removed from the recent recordings."},
            {"MainWidget", "Start %1 | End %2 | Length %3"},
            {"KvEventProcessor", "Cannot play %1: %2."},
            {"KvEventProcessor", "the file is empty"},
            {"KvEventProcessor", "it is not a RAW recording"},
            {"KvEventProcessor", "the file cannot be read"},
            {"KvEventProcessor", "the recording holds no events"},
            {"KvEventProcessor", "the file ends inside its header"},
            {"WaitingWin", "Indexing the recording: %1%"},
            {"MainWidget", "Velqora, version %1"},
            {"MainWidget", "Recording refused: %1"},
            {"MainWidget", "the disk holding %1 is full"},
            {"MainWidget", "No camera is open: there is no camera information to show."},
            {"MainWidget", "Display settings"},
            {"SidebarDvsSettingUI",
             "The camera refused %1 = %2 with the other ROI values (the region must lie on the "
             "sensor); it keeps %3."},
            {"MainWidget",
             "%1 cannot be opened: it is not a regular file; it was removed from "
             "the recent recordings."},
            {"MainWidget", "The settings could not be saved, so the language stays as it is."},
            {"MainWidget", "  Trigger recording armed: %1 s before, %2 s after"},
            {"KvGeneralSetting", "At most %1 seconds before the trigger can be kept."},
            {"KvGeneralSetting",
             "Trigger-in recording needs at least one second before or after the trigger."},
            {"KvFileRecorder",
             "Recording file ... with only %1 s of the %2 s before the "
             "trigger: the cache was still filling."},
            {"KvFileRecorder",
             "The trigger cache could not be started in %1; trigger "
             "recordings hold only the seconds after the edge."},
            {"Startup", "No usable home folder: the settings will not be saved."},
            {"MainWidget", "Time: "},
            {"MainWidget", "A recording is running. Stop it? What was recorded so far is kept."},
            {"MainWidget", "Stop"},
            {"KvFusionCameraDataProcessor",
             "The frames file %1 is damaged or cut short: it ends %2 s before the events. Its "
             "last frame stays in view from there."},
            {"KvGeneralSetting", "RedBlue"},
            {"CameraParameters", "Max Event Rate"},
            {"CameraParameters", "Channel %1"},
            {"MainWidget", "Please connect camera first."},
        };
        for (const auto& t : texts) {
            const QString translated = zh.translate(t[0], t[1]);
            QVERIFY2(!translated.isEmpty() && translated != QString::fromUtf8(t[1]), t[1]);
            QCOMPARE(translated.count('%'), QString::fromUtf8(t[1]).count('%'));
        }
    }
};

VELQORA_TEST_MAIN(MainWidgetTest)
#include "test_mainwidget.moc"
