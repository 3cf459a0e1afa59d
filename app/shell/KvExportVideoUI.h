#pragma once

// The dialog that confirms the range, folder and file name of a video to export
// (see KvRangeFileDialog for the shared rules).

#include "KvRangeFileDialog.h"

namespace Ui {
class KvExportVideoUI;
}

class KvExportVideoUI : public KvRangeFileDialog {
    Q_OBJECT
public:
    explicit KvExportVideoUI(QWidget* parent = nullptr);
    ~KvExportVideoUI() override;

    Ui::KvExportVideoUI* form() const { return ui; }

protected:
    void changeEvent(QEvent* event) override;

private:
    Ui::KvExportVideoUI* ui;
};
