#pragma once

// A line edit whose border shows focus and which reports focus changes.
// GUI thread only.

#include <QLineEdit>

class KvLineEditBase : public QLineEdit {
    Q_OBJECT
public:
    explicit KvLineEditBase(QWidget* parent = nullptr);
    void setBorderColor(const QString& color);

signals:
    void signalMouseHoverd(bool focused);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};
