#pragma once

// The dialog that confirms the range, folder and file name of a RAW file to cut
// (see KvRangeFileDialog for the shared rules).

#include "KvRangeFileDialog.h"

namespace Ui {
class KvCutRawFile;
}

class KvCutRawFile : public KvRangeFileDialog {
    Q_OBJECT
public:
    explicit KvCutRawFile(QWidget* parent = nullptr);
    ~KvCutRawFile() override;

    Ui::KvCutRawFile* form() const { return ui; }

protected:
    void changeEvent(QEvent* event) override;

private:
    Ui::KvCutRawFile* ui;
};
