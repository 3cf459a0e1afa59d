#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "ThreadSafeSignalSpy.h"

#include "AppConfig.h"
#include "AppTestMain.h"
#include "KvEventProcessor.h"
#include "KvFilePathReminderForm.h"
#include "KvGraphicsView.h"
#include "KvThreeHandleSlider.h"
#include "MainWidget.h"
#include "ShowImageForm.h"
#include "SyntheticRecording.h"
#include "WaitingWin.h"
#include "ui_MainWidget.h"

namespace {

QString generate(const QString& path, uint64_t duration_us, uint64_t rate) {
    korvane::SyntheticOptions o;
    o.duration_us = duration_us;
    o.eventsPerSecond = rate;
    o.startTime_us = 500;
    o.triggerPeriod_us = 100000;
    if (!korvane::writeSyntheticRecording(path.toStdString(), o)) qFatal("cannot generate");
    return path;
}

uint64_t parseTime(const QString& text) {  // mm:ss:uuuuuu
    const QStringList parts = text.split(':');
    if (parts.size() != 3) return 0;
    return parts[0].toULongLong() * 60000000ull + parts[1].toULongLong() * 1000000ull +
           parts[2].toULongLong();
}

}  // namespace

class MainWidgetTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString recording_;

private slots:
    void initTestCase() { recording_ = generate(dir_.filePath("demo.raw"), 3000000, 500000); }

    void formatTimestampRule() {
        QCOMPARE(formatTimestamp(0), QString("00:00:000000"));
        QCOMPARE(formatTimestamp(61234567), QString("01:01:234567"));
        QCOMPARE(formatTimestamp(3600000000ull), QString("60:00:000000"));
        QCOMPARE(formatTimestamp(999), QString("00:00:000999"));
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
        for (const char* name : {"a.raw", "a.mp4", "b.raw", "a.b.raw"}) {
            QFile f(dir.filePath(name));
            f.open(QIODevice::WriteOnly);
        }
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

    void noticesSitAtTheBottomLeft() {
        // Notices of earlier tests (a file that could not be played) may linger.
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<KvFilePathReminderForm*>(top)) delete top;
        MainWidget w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTemporaryDir dir;
        const QString gone = dir.filePath("deleted.raw");
        w.slotShowLeftBottomTips("Save file success!", KvMessageType::Success, gone);
        KvFilePathReminderForm* toast = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* t = qobject_cast<KvFilePathReminderForm*>(top)) toast = t;
        }
        QVERIFY(toast);
        QCOMPARE(toast->pos(), QPoint(w.x(), w.y() + w.height() - toast->height()));
        QCOMPARE(toast->directory(), QDir(dir.path()).absolutePath());  // the deleted file's folder
        QVERIFY(toast->hasOpenDirButton());
        delete toast;
    }

    // Drives the window as a user would: open, watch, pause, step, seek, loop, bounds.
    void playsARecordingEndToEnd() {
        MainWidget w;
        w.setOpenFileDialog(
            [&](const QString&, const QString&, const QString&) { return recording_; });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
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
        const QPoint handle = t->centerHandleRect().center();
        QTest::mousePress(t, Qt::LeftButton, {}, handle);
        QMouseEvent drag(QEvent::MouseMove, QPointF(handle.x() - 100, y),
                         t->mapToGlobal(QPointF(handle.x() - 100, y)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(t, &drag);
        QTest::mouseRelease(t, Qt::LeftButton, {}, QPoint(handle.x() - 100, y));
        // The processor reports the start of the next window, and the play handle follows it.
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

        // Start/end points: the bounds reach the processor.
        w.action("Toggle Start/End Point")->trigger();
        QCOMPARE(t->handleMode(), KvThreeHandleSlider::ThreeHandles);
        QCOMPARE(p->lowerBound(), t->minimum());
        QCOMPARE(p->upperBound(), t->maximum());
        t->setCenterValue((t->minimum() + t->maximum()) / 2);
        const QPoint start = t->lowerHandleRect().center();
        QTest::mousePress(t, Qt::LeftButton, {}, start);
        QMouseEvent move(QEvent::MouseMove, QPointF(start.x() + 120, y),
                         t->mapToGlobal(QPointF(start.x() + 120, y)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(t, &move);
        QTest::mouseRelease(t, Qt::LeftButton, {}, QPoint(start.x() + 120, y));
        QVERIFY(t->lowerValue() > t->minimum());
        QCOMPARE(p->lowerBound(), t->lowerValue());
        w.action("Toggle Start/End Point")->trigger();
        QCOMPARE(t->handleMode(), KvThreeHandleSlider::SingleHandle);
        QCOMPARE(p->lowerBound(), t->minimum());
    }

    void quitClosesTheWindow() {
        MainWidget w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.action("Quit")->trigger();
        QVERIFY(!w.isVisible());
    }
};

VELQORA_TEST_MAIN(MainWidgetTest)
#include "test_mainwidget.moc"
