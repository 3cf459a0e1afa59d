#pragma once

// The frame every side-bar panel shares: a title label over a scroll area
// whose content is a column of group boxes that always ends with a stretch.
// Panels put their groups in and take them out through this class, so the
// column keeps its stretch and its order.
//
// Ownership: owns the scroll area and, through it, the boxes placed in it.
// GUI thread only.

#include <QWidget>

class QLabel;
class QScrollArea;
class QVBoxLayout;
class SettingItemBox;

class SettingPanelBase : public QWidget {
    Q_OBJECT
public:
    explicit SettingPanelBase(QWidget* parent = nullptr);

    QLabel* titleLabel() const { return title_; }
    QScrollArea* scrollArea() const { return scroll_; }
    // The boxes in the column, top to bottom.
    QList<SettingItemBox*> groupBoxes() const;

protected:
    void setPanelTitle(const QString& text);
    // Folds the box and puts it among the boxes by rank (a box of a lower
    // rank stays above), at the latest just before the trailing stretch, so a
    // group rebuilt on its own returns to its place.
    void placeGroup(SettingItemBox* box, int rank);
    // Removes and destroys the box, if any, and forgets it.
    void removeGroup(SettingItemBox*& box);

private:
    void ensureTrailingStretch();

    QLabel* title_;
    QScrollArea* scroll_;
    QVBoxLayout* content_;
};
