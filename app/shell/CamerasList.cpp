#include "CamerasList.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>

#include "WindowFrameAgent.h"
#include "WindowTranslucency.h"
#include "ui_CamerasList.h"

CamerasList::CamerasList(const std::vector<korvane::CameraDescription>& cameras, QWidget* parent)
    : QDialog(parent), ui(new Ui::CamerasList) {
    ui->setupUi(this);
    agent_ = new WindowFrameAgent(this);
    agent_->setup(this);
    agent_->setTitleBar(ui->widget_title);
    setAttribute(Qt::WA_TranslucentBackground, translucentWindowsAvailable());
    ui->listWidget_cameras->setIconSize(QSize(24, 24));
    const QIcon icon = entryIcon();
    for (const korvane::CameraDescription& d : cameras) {
        const QString serial = QString::fromLocal8Bit(d.serial.c_str());
        const QString product = QString::fromLocal8Bit(d.product.c_str());
        auto* item = new QListWidgetItem(icon, product.isEmpty() ? serial : product + "  " + serial,
                                         ui->listWidget_cameras);
        item->setData(kSerialRole, serial);
    }
    if (ui->listWidget_cameras->count() > 0) ui->listWidget_cameras->setCurrentRow(0);
    connect(ui->listWidget_cameras, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(ui->le_search_camera, &QLineEdit::textChanged, this, &CamerasList::filter);
    connect(ui->pb_searc_camera, &QPushButton::clicked, this,
            [this] { filter(ui->le_search_camera->text()); });
    // Up and Down choose among the shown rows wherever the focus is: a
    // button would take them to move the focus, the search field drops them.
    for (QWidget* w :
         {static_cast<QWidget*>(ui->le_search_camera), static_cast<QWidget*>(ui->pb_searc_camera),
          static_cast<QWidget*>(ui->pb_open), static_cast<QWidget*>(ui->pb_close),
          static_cast<QWidget*>(ui->pb_win_close)})
        w->installEventFilter(this);
    // Enter opens the chosen camera, wherever the focus is in the dialog.
    ui->pb_open->setDefault(true);
    ui->pb_close->setAutoDefault(false);
    ui->pb_searc_camera->setAutoDefault(false);
}

QIcon CamerasList::entryIcon() {
    // The picture is drawn in the selection colour: on a selected row it is
    // drawn white, or it would vanish into the row.
    QIcon icon(":/img/assets/btn_camera.svg");
    QPixmap white = icon.pixmap(QSize(24, 24));
    {
        QPainter p(&white);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(white.rect(), Qt::white);
    }
    icon.addPixmap(white, QIcon::Selected);
    return icon;
}

void CamerasList::filter(const QString& text) {
    QListWidget* list = ui->listWidget_cameras;
    const QString wanted = text.trimmed();
    int firstShown = -1;
    for (int i = 0; i < list->count(); ++i) {
        const bool shown =
            wanted.isEmpty() || list->item(i)->text().contains(wanted, Qt::CaseInsensitive);
        list->item(i)->setHidden(!shown);
        if (shown && firstShown < 0) firstShown = i;
    }
    // A hidden row cannot be the one that opens.
    const int current = list->currentRow();
    if (current < 0 || list->item(current)->isHidden()) list->setCurrentRow(firstShown);
}

CamerasList::~CamerasList() {
    delete ui;
}

bool CamerasList::getSelection(int& index) const {
    const int row = ui->listWidget_cameras->currentRow();
    if (row < 0 || ui->listWidget_cameras->item(row)->isHidden()) return false;
    index = row;
    return true;
}

void CamerasList::on_pb_open_clicked() {
    accept();
}

void CamerasList::on_pb_close_clicked() {
    reject();
}

void CamerasList::on_pb_win_close_clicked() {
    reject();
}

bool CamerasList::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
                QCoreApplication::sendEvent(ui->listWidget_cameras, event);
                return true;
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CamerasList::showEvent(QShowEvent* event) {
    if (QWidget* p = parentWidget()) {
        const QPoint at = p->mapToGlobal(QPoint(0, 0));
        move(at.x() + (p->width() - width()) / 2, at.y() + (p->height() - height()) / 2);
    }
    QDialog::showEvent(event);
    // Ready to type a search, or to choose with the arrows and Enter.
    ui->le_search_camera->setFocus();
}
