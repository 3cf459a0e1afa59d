#pragma once

// The main window. This is its frame only; recording playback, the camera
// views and the side bar are wired in as they are built.

#include <QWidget>

class MainWidget : public QWidget {
    Q_OBJECT
public:
    explicit MainWidget(QWidget* parent = nullptr);
};
