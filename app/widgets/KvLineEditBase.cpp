#include "KvLineEditBase.h"

#include "StyleSheetEdit.h"

KvLineEditBase::KvLineEditBase(QWidget* parent) : QLineEdit(parent) {
    setStyleSheet(
        "font-size: 12px; font-family: \"Noto Sans SC Medium\"; color: #555555; "
        "border: 1px solid #ACACAC; border-radius: 3px;");
    setAlignment(Qt::AlignCenter);
}

void KvLineEditBase::setBorderColor(const QString& color) {
    setStyleSheet(
        replaceStyleDeclaration(styleSheet(), "border", "border: 1px solid " + color + ";"));
}

void KvLineEditBase::focusInEvent(QFocusEvent* event) {
    setBorderColor("#004B6A");
    emit signalMouseHoverd(true);
    QLineEdit::focusInEvent(event);
}

void KvLineEditBase::focusOutEvent(QFocusEvent* event) {
    setBorderColor("#ACACAC");
    QLineEdit::focusOutEvent(event);
    emit signalMouseHoverd(false);
}
