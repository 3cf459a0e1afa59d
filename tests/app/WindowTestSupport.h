#pragma once

// Helpers for tests that drive the main window: choosing a camera in its
// camera list, reading or closing the notices it shows, waiting for a
// recording to load and dragging timeline handles. GUI thread only.

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QStringList>
#include <QTest>
#include <QUrl>

#include "CamerasList.h"
#include "KvEventProcessor.h"
#include "KvFilePathReminderForm.h"
#include "KvThreeHandleSlider.h"
#include "MainWidget.h"
#include "korvane/sim/SyntheticRecording.h"
#include "WaitingWin.h"
#include "ui_CamerasList.h"
#include "ui_MainWidget.h"

// Makes the window open `serial` from its camera list.
inline void chooseSerial(MainWidget& w, const QString& serial, bool* listShown = nullptr) {
    w.setRunCameraList([serial, listShown](CamerasList& list) {
        if (listShown) *listShown = true;
        auto* l = list.form()->listWidget_cameras;
        for (int i = 0; i < l->count(); ++i)
            if (l->item(i)->data(CamerasList::kSerialRole).toString() == serial)
                l->setCurrentRow(i);
        return true;
    });
}

// Texts of the notices on screen.
inline QStringList toasts() {
    QStringList out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<KvFilePathReminderForm*>(w))
            if (auto* l = f->findChild<QLabel*>("lb_tips")) out << l->text();
    return out;
}

inline void closeToasts() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<KvFilePathReminderForm*>(w)) delete f;
}

// The notice on screen showing exactly `text`, or null.
inline KvFilePathReminderForm* noticeSaying(const QString& text) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<KvFilePathReminderForm*>(w))
            if (auto* l = f->findChild<QLabel*>("lb_tips"); l && l->text() == text) return f;
    return nullptr;
}

// Writes a synthetic recording; fatal when it cannot.
inline QString writeRecording(const QString& path, const korvane::SyntheticOptions& o) {
    if (!korvane::writeSyntheticRecording(path.toStdString(), o)) qFatal("cannot generate");
    return path;
}

// One starting at 500 us with a trigger edge every 100 ms.
inline QString writeRecording(const QString& path, uint64_t duration_us,
                              uint64_t eventsPerSecond = 500000, const std::string& serial = {}) {
    korvane::SyntheticOptions o;
    o.duration_us = duration_us;
    o.eventsPerSecond = eventsPerSecond;
    o.startTime_us = 500;
    o.triggerPeriod_us = 100000;
    if (!serial.empty()) o.serialNumber = serial;
    return writeRecording(path, o);
}

// Waits until the window has handled everything a finished load sends: the
// load thread queues range, play state and "loading over" after the opened
// notice that enables the play bar, so the enabled bar alone comes too early.
// The waiting window closes on the last of them.
inline bool waitUntilLoaded(MainWidget& w, int timeout_ms = 20000) {
    return QTest::qWaitFor(
        [&] {
            return w.form()->pb_play->isEnabled() && !w.rawProcessor()->isLoading() &&
                   !w.waitingWindow()->isVisible();
        },
        timeout_ms);
}

// Drops the local file `path` on the window, as a file manager would.
inline void dropFile(QWidget& w, const QString& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
}

// Presses at `from` on the timeline, moves `dx` pixels along it and releases.
inline void dragTimeline(KvThreeHandleSlider* t, QPoint from, int dx) {
    const QPoint to(from.x() + dx, t->height() / 2);
    QTest::mousePress(t, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), t->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(t, &move);
    QTest::mouseRelease(t, Qt::LeftButton, {}, to);
}
