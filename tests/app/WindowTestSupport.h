#pragma once

// Helpers for tests that drive the main window: choosing a camera in its
// camera list and reading or closing the notices it shows. GUI thread only.

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QStringList>

#include "CamerasList.h"
#include "KvFilePathReminderForm.h"
#include "MainWidget.h"
#include "ui_CamerasList.h"

// Makes the window open `serial` from its camera list.
inline void chooseSerial(MainWidget& w, const QString& serial, bool* listShown = nullptr) {
    w.setRunCameraList([serial, listShown](CamerasList& list) {
        if (listShown) *listShown = true;
        auto* l = list.form()->listWidget_cameras;
        for (int i = 0; i < l->count(); ++i)
            if (l->item(i)->text() == serial) l->setCurrentRow(i);
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
