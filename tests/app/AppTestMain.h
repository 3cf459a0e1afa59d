#pragma once

// main() for the application tests: a private scratch home (documents,
// data, cache and configuration all inside it), offscreen, test mode.

#include <QApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// Shows a widget and waits until it is on screen.
inline bool shownOnScreen(QWidget& w) {
    w.show();
    return QTest::qWaitForWindowExposed(&w);
}

#define VELQORA_TEST_MAIN(TestClass)                                        \
    int main(int argc, char** argv) {                                       \
        QTemporaryDir home;                                                 \
        qputenv("HOME", home.path().toUtf8());                              \
        qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());    \
        qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8()); \
        qputenv("XDG_CACHE_HOME", (home.path() + "/.cache").toUtf8());      \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                 \
            qputenv("QT_QPA_PLATFORM", "offscreen");                        \
        QStandardPaths::setTestModeEnabled(true);                           \
        QApplication app(argc, argv);                                       \
        TestClass test;                                                     \
        return QTest::qExec(&test, argc, argv);                             \
    }
