#pragma once

// A foldable group of setting rows under a title bar. Folded, only the
// title bar shows; unfolded, the rows show and the title bar gets a blue
// left edge. A new box starts folded.
//
// Ownership: owns its form and the rows added to it. GUI thread only.

#include <QWidget>

namespace Ui {
class SettingItemBox;
}

class SettingItemBox : public QWidget {
    Q_OBJECT
public:
    explicit SettingItemBox(QWidget* parent = nullptr);
    ~SettingItemBox() override;

    QString title() const;
    void setTitle(const QString& text);
    void addItem(QWidget* row);
    // An index past the end appends; a negative one inserts at the top.
    void insertItem(QWidget* row, int index);
    int itemCount() const;
    QWidget* itemAt(int index) const;

    bool isFolded() const;
    void setFoldState(bool folded);
    QString titleStyleSheet() const;

    Ui::SettingItemBox* form() const { return ui; }

public slots:
    void on_pb_fold_clicked(bool checked);

private:
    void applyFoldLook(bool folded);
    void relayout(QWidget* row);

    Ui::SettingItemBox* ui;
};
