#pragma once

// The "Recent recordings" list under File: the last ten recordings opened,
// newest first, without duplicates, kept in a list the caller owns (the
// configuration, which stores it). Choosing an entry that still exists
// emits chosen(); one that is gone is dropped from the list and reported
// through missing(), one that is there but not a regular file (a folder, a
// FIFO) is dropped and reported through notAFile().
//
// Ownership: fills a menu it does not own; lives as long as its parent.
// GUI thread only.

#include <QObject>
#include <QString>
#include <QStringList>

class QMenu;

class RecentRecordings : public QObject {
    Q_OBJECT
public:
    static constexpr int kCount = 10;

    RecentRecordings(QMenu* menu, QStringList* list, QObject* parent = nullptr);

    // Puts the file (made absolute) at the top.
    void remember(const QString& path);

signals:
    void chosen(QString path);
    void missing(QString path);
    void notAFile(QString path);

private:
    void rebuild();
    void choose(const QString& path);

    QMenu* menu_;
    QStringList* list_;
};
