#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTranslator>
#include <limits>

#include "AppTestMain.h"
#include "FakeCameraTool.h"
#include "KVComboBoxBase.h"
#include "KvComboBox.h"
#include "KvLineEditBase.h"
#include "KvSlider.h"
#include "SettingBaseWithComboBox.h"
#include "SettingBaseWithLineEdit.h"
#include "SettingBaseWithSwitchButton.h"
#include "SettingItemBox.h"
#include "SettingNames.h"
#include "SettingRowBuilder.h"
#include "Startup.h"
#include "ui_SettingBaseWithLineEdit.h"
#include "ui_SettingBaseWithSwitchButton.h"
#include "ui_SettingItemBox.h"

namespace {

struct IntReport {
    std::string name;
    int value;
};

// Everything a line-edit row reported, in order.
QList<IntReport> reports(const QSignalSpy& spy) {
    QList<IntReport> out;
    for (const auto& args : spy)
        out.push_back({args.at(0).value<std::string>(), args.at(1).toInt()});
    return out;
}

QString borderOf(const SettingBaseWithLineEdit& row) {
    const QString sheet = row.form()->le_kv_line_edit->styleSheet();
    const int at = sheet.indexOf("border:");
    return sheet.mid(at, sheet.indexOf(';', at) - at + 1);
}

}  // namespace

class SettingRowsTest : public QObject {
    Q_OBJECT
private slots:
    void namesAndLabels() {
        QCOMPARE(toDisplayName("bias_diff_on"), QString("Bias Diff On"));
        QCOMPARE(toDisplayName("bias_fo"), QString("Bias Fo"));
        QCOMPARE(toDisplayName("Offset X"), QString("Offset X"));
        // Non-letters keep the wait for a letter; letters after digits are not words.
        QCOMPARE(toDisplayName("roi_2nd_x"), QString("Roi 2Nd X"));
        QCOMPARE(toDisplayName("x1y"), QString("X1y"));
        QCOMPARE(toDisplayName(""), QString(""));
        QCOMPARE(toParameterName("Bias Diff On"), QString("bias_diff_on"));
        QCOMPARE(toParameterName(toDisplayName("bias_fo")), QString("bias_fo"));

        QCOMPARE(truncateToInt(2.7f), 2);
        QCOMPARE(truncateToInt(-2.7f), -2);
        QCOMPARE(truncateToInt(9.9f), 9);
        QCOMPARE(truncateToInt(3.0e38f), std::numeric_limits<int>::max());
        QCOMPARE(truncateToInt(-3.0e38f), std::numeric_limits<int>::min());
        QCOMPARE(truncateToInt(std::numeric_limits<float>::quiet_NaN()), 0);
    }

    // A name that is not lower-case words joined by "_" must come back as it was.
    void rowsReportTheNameTheyWereBuiltFrom() {
        SettingBaseWithLineEdit row("Bias_FO");
        QCOMPARE(row.form()->lb_item_name->text(), QString("Bias FO"));
        row.setRange(0, 255);
        QSignalSpy spy(&row, &SettingBaseWithLineEdit::signalItemValueChanged);
        row.form()->le_kv_line_edit->setText("12");
        QCOMPARE(spy.count(), 1);
        QCOMPARE(reports(spy)[0].name, std::string("Bias_FO"));

        // A switch set by the program reports nothing; a click reports the new state.
        SettingBaseWithSwitchButton sw("ErcEnable");
        QSignalSpy swSpy(&sw, &SettingBaseWithSwitchButton::signalItemValueChanged);
        sw.setChecked(true);
        QVERIFY(sw.isChecked());
        QCOMPARE(swSpy.count(), 0);
        sw.form()->switchButton->click();
        QCOMPARE(swSpy.count(), 1);
        QCOMPARE(swSpy[0][0].value<std::string>(), std::string("ErcEnable"));
        QCOMPARE(swSpy[0][1].toBool(), false);
        sw.form()->switchButton->click();
        QCOMPARE(swSpy[1][1].toBool(), true);

        SettingBaseWithComboBox combo("Filter Type");
        QSignalSpy comboSpy(&combo, &SettingBaseWithComboBox::signalItemValueChanged);
        combo.addItem("STC");
        combo.addItem("TRAIL");
        combo.comboBox()->comboBox()->setCurrentIndex(1);
        QCOMPARE(comboSpy.last()[0].value<std::string>(), std::string("Filter Type"));
        QCOMPARE(comboSpy.last()[1].value<std::string>(), std::string("TRAIL"));
    }

    // In the range a typed value is reported at once; beyond it the text is
    // left alone until the edit ends, which clamps it.
    void typedValuesAreReportedAtOnceAndClampedAtTheEnd() {
        SettingBaseWithLineEdit row("bias_fo");
        row.setRange(0, 255);
        row.setValue(100);
        QCOMPARE(row.form()->le_kv_line_edit->text(), QString("100"));
        QSignalSpy spy(&row, &SettingBaseWithLineEdit::signalItemValueChanged);
        QLineEdit* edit = row.form()->le_kv_line_edit;

        edit->setText("300");  // beyond the maximum: nothing yet, text as typed
        QCOMPARE(spy.count(), 0);
        QCOMPARE(edit->text(), QString("300"));
        QCOMPARE(borderOf(row), QString("border: 1px solid #FF6058;"));
        emit edit->editingFinished();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(reports(spy)[0].value, 255);
        QCOMPARE(edit->text(), QString("255"));
        edit->setText("400");  // still beyond, slider already there: text shows what is in force
        emit edit->editingFinished();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(edit->text(), QString("255"));

        edit->setText("12a");  // red, nothing reported
        QCOMPARE(spy.count(), 1);
        QCOMPARE(borderOf(row), QString("border: 1px solid #FF6058;"));
        edit->setText("12");
        QCOMPARE(spy.count(), 2);
        QCOMPARE(reports(spy)[1].value, 12);
        edit->setText("012");  // the same value: reported once, text kept as typed
        QCOMPARE(spy.count(), 2);
        QCOMPARE(edit->text(), QString("012"));

        // Unparsable text on leaving writes nothing and gives way to the
        // value in force, no longer red.
        for (const char* text : {"x", "abc", "", "-", "1 2"}) {
            edit->setText(text);
            QCOMPARE(borderOf(row), QString("border: 1px solid #FF6058;"));
            emit edit->editingFinished();
            QCOMPARE(spy.count(), 2);
            QCOMPARE(edit->text(), QString("12"));
            QCOMPARE(borderOf(row), QString("border: 1px solid #ACACAC;"));
            QVERIFY(row.holdsNumber());
        }

        // A value shown for the camera reports nothing.
        row.showValue(30);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(edit->text(), QString("30"));
        QCOMPARE(row.form()->horizontalSlider->value(), 30);
    }

    void plusAndMinusStopAtTheEnds() {
        SettingBaseWithLineEdit row("offset");
        row.setRange(-2, 2);
        row.setValue(1);
        QSignalSpy spy(&row, &SettingBaseWithLineEdit::signalItemValueChanged);
        row.form()->pb_add_item_value->click();
        QCOMPARE(row.form()->le_kv_line_edit->text(), QString("2"));
        row.form()->pb_add_item_value->click();  // at the maximum
        QCOMPARE(spy.count(), 1);
        row.setValue(-2);
        spy.clear();
        row.form()->pb_sub_item_value->click();  // at the minimum
        QCOMPARE(spy.count(), 0);
        QCOMPARE(row.form()->le_kv_line_edit->text(), QString("-2"));
        row.form()->le_kv_line_edit->setText("abc");
        spy.clear();
        row.form()->pb_add_item_value->click();
        row.form()->pb_sub_item_value->click();
        QCOMPARE(spy.count(), 0);
    }

    void setValueOutsideTheRangeChangesNothing() {
        SettingBaseWithLineEdit row("x");
        row.setRange(10, 20);  // the slider leaves 0 for 10 and fills the text
        QCOMPARE(row.form()->le_kv_line_edit->text(), QString("10"));
        QCOMPARE(borderOf(row), QString("border: 1px solid #ACACAC;"));  // 10 is in range
        SettingBaseWithLineEdit rate("max_event_rate");  // a range beyond the slider's first one
        rate.setRange(1000, 100000000);
        rate.setValue(20000000);
        QCOMPARE(rate.form()->le_kv_line_edit->text(), QString("20000000"));
        QCOMPARE(borderOf(rate), QString("border: 1px solid #ACACAC;"));
        row.setValue(15);
        row.setValue(21);
        row.setValue(9);
        QCOMPARE(row.form()->le_kv_line_edit->text(), QString("15"));
        QCOMPARE(row.form()->horizontalSlider->value(), 15);
    }

    void unitLabelAndValueCallback() {
        SettingBaseWithLineEdit row("x");
        row.setUnit(" ");
        QCOMPARE(row.form()->lb_unit->text(), QString());
        row.setUnit("us");
        QCOMPARE(row.form()->lb_unit->text(), QString("(us)"));
        row.setUnit("");
        QCOMPARE(row.form()->lb_unit->text(), QString("(us)"));

        QList<int> seen;
        row.setValueCallback([&](const std::string& name, int v) {
            seen << v;
            return name == "x";
        });
        row.setRange(0, 50);
        row.form()->le_kv_line_edit->setText("7");
        QCOMPARE(seen, QList<int>{7});
        row.setValueState(false);
        QCOMPARE(borderOf(row), QString("border: 1px solid #FF6058;"));
        row.setValueState(true);
        QCOMPARE(borderOf(row), QString("border: 1px solid #ACACAC;"));
    }

    void sliderRowShowsOnlyWhileTheValueHasFocus() {
        QWidget window;
        auto* other = new QLineEdit(&window);  // first in the focus chain
        auto* row = new SettingBaseWithLineEdit("x", &window);
        row->move(0, 40);
        QVERIFY(shownOnScreen(window));
        window.activateWindow();
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        QVERIFY(!row->form()->widget_slider->isVisible());
        row->form()->le_kv_line_edit->setFocus();
        QTRY_VERIFY(row->form()->widget_slider->isVisible());
        QCOMPARE(borderOf(*row), QString("border: 1px solid #004B6A;"));
        other->setFocus();
        QTRY_VERIFY(!row->form()->widget_slider->isVisible());
    }

    void itemBoxFoldsAndInsertsSafely() {
        SettingItemBox box;
        QVERIFY(box.isFolded());
        QVERIFY(box.form()->pb_fold->isChecked());
        QVERIFY(box.titleStyleSheet().contains("border-left: 0px solid #004B6A;"));
        box.form()->pb_fold->click();
        QVERIFY(!box.isFolded());
        QVERIFY(box.titleStyleSheet().contains("border-left: 2px solid #004B6A;"));
        QVERIFY(box.titleStyleSheet().contains("background: #E1E9ED;"));
        box.setFoldState(true);
        QVERIFY(box.form()->pb_fold->isChecked());
        QVERIFY(box.titleStyleSheet().contains("background: #F4F5F7;"));
        QCOMPARE(box.titleStyleSheet().count("border-left"), 1);

        auto* a = new QWidget;
        auto* b = new QWidget;
        auto* c = new QWidget;
        box.insertItem(a, 5);  // past the end of an empty box: appended
        box.insertItem(b, 0);
        box.insertItem(c, 1);
        QCOMPARE(box.itemCount(), 3);
        QCOMPARE(box.itemAt(0), b);
        QCOMPARE(box.itemAt(1), c);
        QCOMPARE(box.itemAt(2), a);
    }

    void rowsAreBuiltFromDescriptions() {
        FakeCameraTool tool;
        tool.addInt("b_int", -5, 5, 3, "mV");
        tool.addFloat("c_float", 0.5f, 9.9f, 2.7f);
        tool.addBool("a_bool", true);
        tool.addEnum("d_enum", {"one", "two"});
        tool.addInt("e_broken", 0, 1, 0).fetchFails = true;
        tool.add("f_type3", 3);

        QList<QWidget*> rows;
        SettingRowPlan plan;
        plan.placeInt = [&](SettingBaseWithLineEdit* r) { rows << r; };
        plan.placeFloat = [&](SettingBaseWithLineEdit* r) { rows << r; };
        plan.placeBool = [&](SettingBaseWithSwitchButton* r) { rows << r; };
        plan.placeEnum = [&](SettingBaseWithComboBox* r) { rows << r; };
        QCOMPARE(buildSettingRows(tool, tool.getParameterInfos(), plan), 4);
        QCOMPARE(rows.size(), 4);

        auto* sw = qobject_cast<SettingBaseWithSwitchButton*>(rows[0]);
        QVERIFY(sw);
        QVERIFY(!sw->isChecked());  // off unless the group says otherwise
        auto* i = qobject_cast<SettingBaseWithLineEdit*>(rows[1]);
        QCOMPARE(i->minimum(), -5);
        QCOMPARE(i->maximum(), 5);
        QCOMPARE(i->form()->le_kv_line_edit->text(), QString("3"));
        QCOMPARE(i->form()->lb_unit->text(), QString("(mV)"));
        auto* f = qobject_cast<SettingBaseWithLineEdit*>(rows[2]);
        QCOMPARE(f->minimum(), 0);
        QCOMPARE(f->maximum(), 9);
        QCOMPARE(f->form()->le_kv_line_edit->text(), QString("2"));
        auto* e = qobject_cast<SettingBaseWithComboBox*>(rows[3]);
        QCOMPARE(e->comboBox()->comboBox()->count(), 2);
        QCOMPARE(e->comboBox()->comboBox()->currentText(), QString("one"));
        qDeleteAll(rows);

        // A group without a placer for a kind builds no row of that kind.
        SettingRowPlan onlyBool;
        int bools = 0;
        onlyBool.placeBool = [&](SettingBaseWithSwitchButton* r) {
            ++bools;
            delete r;
        };
        QCOMPARE(buildSettingRows(tool, tool.getParameterInfos(), onlyBool), 1);
        QCOMPARE(bools, 1);
        QVERIFY(tool.writes.empty());  // building writes nothing
    }

    // Under Chinese the rows show translated names and options, and still
    // report the camera's own names; Qt's own dialogs are translated too.
    void chineseRowsKeepTheCamerasNames() {
        QTranslator zh;
        QVERIFY(zh.load(":/app_zh.qm"));
        QVERIFY(QCoreApplication::installTranslator(&zh));
        struct Name {
            const char* parameter;
            const char* shown;
        };
        for (const Name& n :
             {Name{"contrast_off", "负向对比度"}, Name{"max_event_rate", "最大事件率"},
              Name{"enable", "启用"}, Name{"channel_2", "通道 2"},
              Name{"bias_fo", "Bias Fo"}}) {  // unknown: the display name
            QCOMPARE(translatedDisplayName(n.parameter), QString::fromUtf8(n.shown));
        }
        SettingBaseWithLineEdit rate("max_event_rate");
        QCOMPARE(rate.form()->lb_item_name->text(), QString::fromUtf8("最大事件率"));
        SettingBaseWithComboBox mode("mode");
        qRegisterMetaType<std::string>("std::string");
        QSignalSpy changed(&mode, &SettingBaseWithComboBox::signalItemValueChanged);
        mode.addItem("band_stop");
        mode.addItem("band_pass");
        mode.addItem("odd_one");
        QCOMPARE(mode.comboBox()->comboBox()->itemText(0), QString::fromUtf8("带阻"));
        QCOMPARE(mode.comboBox()->comboBox()->itemText(2), QString("odd_one"));
        mode.comboBox()->comboBox()->setCurrentIndex(1);
        QCOMPARE(changed.last().at(1).value<std::string>(), std::string("band_pass"));
        QCoreApplication::removeTranslator(&zh);
        QCOMPARE(translatedOptionName("band_stop"), QString("band_stop"));  // English: as named

        const int before = QCoreApplication::translate("QFileDialog", "Look in:") != "Look in:";
        QVERIFY(!loadQtTranslation("en"));
        QVERIFY2(loadQtTranslation("zh"), "qt6-translations-l10n is not installed");
        QVERIFY(QCoreApplication::translate("QFileDialog", "Look in:") != "Look in:");
        QCOMPARE(before, 0);
    }

    // A literal must be written as text, not converted to a boolean.
    void textLiteralsAreWrittenAsText() {
        FakeCameraTool tool;
        korvane::CameraTool& camera = tool;
        camera.setParameter("mode", "BAND_PASS");
        camera.setParameter("on", true);
        QCOMPARE(tool.writes, (std::vector<std::string>{"mode=text:BAND_PASS", "on=bool:1"}));
    }
};

VELQORA_TEST_MAIN(SettingRowsTest)
#include "test_setting_rows.moc"
