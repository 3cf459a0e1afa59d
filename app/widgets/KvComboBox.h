#pragma once

// A framed combo box for the settings: the frame and text turn blue while
// the list is open or the user types. Always has its own line edit;
// setEditable() only switches it between writable and read-only.
// GUI thread only.

#include <QMetaObject>
#include <QWidget>

class KVComboBoxBase;

namespace Ui {
class KvComboBox;
}

class KvComboBox : public QWidget {
    Q_OBJECT
public:
    explicit KvComboBox(QWidget* parent = nullptr);
    ~KvComboBox() override;

    KVComboBoxBase* comboBox() const;
    void setEditable(bool editable);
    void setTextColor(const QString& color);
    void setFrameColor(const QString& color);
    void setStyleProperty(const QString& name, const QString& declaration);
    QString frameStyleSheet() const;
    QString comboStyleSheet() const;

signals:
    void signalLineEditTextChanged(QString text);
    void signalLineEditEditingFinished();

public slots:
    void on_cb_combox_in_widget_currentTextChanged(const QString& text);

private:
    void setActiveLook(bool active);

    Ui::KvComboBox* ui;
    QMetaObject::Connection textChanged_;
    QMetaObject::Connection editingFinished_;
};
