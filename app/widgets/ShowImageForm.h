#pragma once

// The image in the middle of the main window: one scene, one pixmap item,
// shown fitted in a KvGraphicsView. Images of the same size keep the
// user's zoom and pan. GUI thread only.

#include <QImage>
#include <QPixmap>
#include <QWidget>

class QGraphicsScene;
class QGraphicsPixmapItem;
class KvGraphicsView;

namespace Ui {
class ShowImageForm;
}

class ShowImageForm : public QWidget {
    Q_OBJECT
public:
    explicit ShowImageForm(QWidget* parent = nullptr);
    ~ShowImageForm() override;

    KvGraphicsView* view() const;
    const QPixmap& pixmap() const { return pixmap_; }
    QGraphicsPixmapItem* pixmapItem() const { return item_; }

public slots:
    void slotShowImage(QImage image);
    void showPixMap(QPixmap pixmap);
    // Back to the grey placeholder, as before the first image.
    void clearImage();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void fit();

    Ui::ShowImageForm* ui;
    QGraphicsScene* scene_ = nullptr;
    QGraphicsPixmapItem* item_ = nullptr;
    QPixmap pixmap_;
    int placeholderWidth_ = 1280;
    int placeholderHeight_ = 720;
};
