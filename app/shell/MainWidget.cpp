#include "MainWidget.h"

MainWidget::MainWidget(QWidget* parent) : QWidget(parent) {
    setWindowTitle(tr("Velqora"));
    setMinimumSize(1000, 650);
}
