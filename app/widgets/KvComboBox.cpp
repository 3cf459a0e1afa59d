#include "KvComboBox.h"

#include <QLineEdit>
#include <QTimer>

#include "StyleSheetEdit.h"
#include "ui_KvComboBox.h"

KvComboBox::KvComboBox(QWidget* parent) : QWidget(parent), ui(new Ui::KvComboBox) {
    ui->setupUi(this);
    KVComboBoxBase* combo = ui->cb_combox_in_widget;
    combo->setEditable(true);
    combo->setFixedHeight(30);
    combo->setIconSize(QSize(30, 30));
    combo->setMinimumContentsLength(3);
    combo->setStyleSheet(
        "font-size: 12px; background-color: #FFFFFF; border: 1px solid #A7A7A7; "
        "border-radius: 3px; padding-right: 25px; color: #A7A7A7;");
    // The arrow: drawn by rules on this outer widget, since the inner box's own
    // sheet is plain declarations that are patched one by one.
    setStyleSheet(
        "QComboBox::drop-down { border: none; background: transparent; width: 24px; }"
        "QComboBox::down-arrow { image: url(:/img/assets/bnt_arrow_down.svg); width: 12px; "
        "height: 12px; }"
        "QComboBox::down-arrow:on { image: url(:/img/assets/bnt_arrow_up_Pressed.svg); }");
    // The text field lives inside the box's own border; it must not draw a second one.
    combo->lineEdit()->setStyleSheet("border: none; background: transparent; padding: 0px;");
    // A chosen value wider than the box shows its start ("polarity_cha", not
    // "olarity_change"), the whole of it as the tip; typing is left alone.
    connect(combo, &QComboBox::currentIndexChanged, this, [combo](int) {
        QLineEdit* edit = combo->lineEdit();
        if (edit && edit->isReadOnly()) edit->setCursorPosition(0);
        combo->setToolTip(combo->currentText());
    });
    // The look follows the list on the next turn of the event loop, after it opened or closed.
    connect(combo, &KVComboBoxBase::popupShown, this,
            [this] { QTimer::singleShot(0, this, [this] { setActiveLook(true); }); });
    connect(combo, &KVComboBoxBase::popupHidden, this,
            [this] { QTimer::singleShot(0, this, [this] { setActiveLook(false); }); });
}

KvComboBox::~KvComboBox() {
    delete ui;
}

KVComboBoxBase* KvComboBox::comboBox() const {
    return ui->cb_combox_in_widget;
}

QString KvComboBox::frameStyleSheet() const {
    return ui->comboBoxWidget->styleSheet();
}

QString KvComboBox::comboStyleSheet() const {
    return ui->cb_combox_in_widget->styleSheet();
}

void KvComboBox::setActiveLook(bool active) {
    ui->comboBoxWidget->setStyleSheet(active ? "border: 2px solid #D7E7EE; border-radius: 3px;"
                                             : "border: 2px solid transparent;                "
                                               "border-radius: 3px;");
    setTextColor(active ? "#004B6A" : "#A7A7A7");
}

void KvComboBox::setEditable(bool editable) {
    QLineEdit* edit = ui->cb_combox_in_widget->lineEdit();
    if (!edit) return;
    disconnect(textChanged_);
    disconnect(editingFinished_);
    if (editable) {
        textChanged_ = connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
            emit signalLineEditTextChanged(text);
            setFrameColor("#D7E7EE");
            setTextColor("#004B6A");
        });
        editingFinished_ = connect(edit, &QLineEdit::editingFinished, this, [this] {
            emit signalLineEditEditingFinished();
            setFrameColor("transparent");
            setTextColor("#A7A7A7");
        });
    }
    edit->setReadOnly(!editable);
}

void KvComboBox::setTextColor(const QString& color) {
    setStyleProperty("color", "color: " + color + ";");
}

void KvComboBox::setFrameColor(const QString& color) {
    ui->comboBoxWidget->setStyleSheet(replaceStyleDeclaration(
        ui->comboBoxWidget->styleSheet(), "border", "border: 2px solid " + color + ";"));
}

void KvComboBox::setStyleProperty(const QString& name, const QString& declaration) {
    KVComboBoxBase* combo = ui->cb_combox_in_widget;
    combo->setStyleSheet(replaceStyleDeclaration(combo->styleSheet(), name, declaration));
}

void KvComboBox::on_cb_combox_in_widget_currentTextChanged(const QString&) {
    emit signalLineEditEditingFinished();
}
