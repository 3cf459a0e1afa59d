#include "RecentRecordings.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

RecentRecordings::RecentRecordings(QMenu* menu, QStringList* list, QObject* parent)
    : QObject(parent), menu_(menu), list_(list) {
    while (list_->size() > kCount)
        list_->removeLast();
    rebuild();
}

void RecentRecordings::remember(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    list_->removeAll(absolute);
    list_->prepend(absolute);
    while (list_->size() > kCount)
        list_->removeLast();
    rebuild();
}

void RecentRecordings::rebuild() {
    // A chosen entry rebuilds the menu from inside its own signal: delete later.
    for (QAction* old : menu_->actions()) {
        menu_->removeAction(old);
        old->deleteLater();
    }
    for (const QString& path : *list_) {
        const QFileInfo info(path);
        QAction* a = menu_->addAction(
            QString("%1  (%2)").arg(info.fileName(), QDir::toNativeSeparators(info.path())));
        a->setData(path);
        connect(a, &QAction::triggered, this, [this, path] { choose(path); });
    }
    menu_->setEnabled(!list_->isEmpty());
}

void RecentRecordings::choose(const QString& path) {
    if (QFileInfo(path).isFile()) {
        emit chosen(path);
        return;
    }
    const bool exists = QFileInfo::exists(path);  // a folder or a FIFO by that name now
    list_->removeAll(path);
    rebuild();
    if (exists)
        emit notAFile(path);
    else
        emit missing(path);
}
