#include <QGraphicsPixmapItem>
#include <QLineEdit>
#include <QSignalSpy>
#include <cmath>

#include "AppTestMain.h"
#include "KVComboBoxBase.h"
#include "KvComboBox.h"
#include "KvGraphicsView.h"
#include "KvLineEditBase.h"
#include "KvSlider.h"
#include "KvThreeHandleSlider.h"
#include "ShowImageForm.h"

namespace {

void press(QWidget* w, int x, int y = 15) {
    QTest::mousePress(w, Qt::LeftButton, {}, QPoint(x, y));
}
void moveTo(QWidget* w, int x, int y = 15) {
    QMouseEvent e(QEvent::MouseMove, QPointF(x, y), w->mapToGlobal(QPointF(x, y)), Qt::NoButton,
                  Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
void release(QWidget* w, int x, int y = 15) {
    QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(x, y));
}

void wheel(QWidget* w, int dy, int dx = 0) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(dx, dy), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

// A 532 x 30 timeline over [0, 1000]: track S = 500 in three-handle mode.
std::unique_ptr<KvThreeHandleSlider> timeline(KvThreeHandleSlider::HandleMode mode) {
    auto s = std::make_unique<KvThreeHandleSlider>(nullptr, Qt::Horizontal, mode);
    s->resize(532, 30);
    s->setMinimum(0);
    s->setMaximum(1000);
    s->setCenterValue(500);
    return s;
}

}  // namespace

class WidgetsTest : public QObject {
    Q_OBJECT

private slots:
    void sliderHandleGeometryInBothModes() {
        auto s = timeline(KvThreeHandleSlider::ThreeHandles);
        QCOMPARE(s->lowerHandleRect(), QRect(0, 1, 6, 27));
        QCOMPARE(s->centerHandleRect(), QRect(256, 5, 20, 20));
        QCOMPARE(s->upperHandleRect(), QRect(526, 1, 6, 27));  // right edge on the widget's edge
        s->setLowerValue(500);
        s->setUpperValue(500);
        // All on one value: start, play and end touch.
        QCOMPARE(s->lowerHandleRect().right() + 1, s->centerHandleRect().left());
        QCOMPARE(s->centerHandleRect().right() + 1, s->upperHandleRect().left());

        auto single = timeline(KvThreeHandleSlider::SingleHandle);
        QCOMPARE(single->centerHandleRect(), QRect(256, 5, 20, 20));
        QCOMPARE(single->lowerHandleRect(), QRect(0, 1, 6, 27));
        QCOMPARE(single->upperHandleRect(), QRect(526, 1, 6, 27));
        QCOMPARE(single->minimumSizeHint(), QSize(12, 6));
    }

    void sliderPressesAndTrackClicks() {
        auto s = timeline(KvThreeHandleSlider::ThreeHandles);
        QSignalSpy click(s.get(), &KvThreeHandleSlider::centerValueTrackClick);
        QSignalSpy move(s.get(), &KvThreeHandleSlider::centerValueMove);
        QSignalSpy lower(s.get(), &KvThreeHandleSlider::lowerValueChanged);
        // Left of pixel 13 is the lower value, never the upper one.
        s->setLowerValue(200);
        press(s.get(), 5, 28);
        release(s.get(), 5, 28);
        QCOMPARE(s->centerValue(), uint64_t(200));
        QCOMPARE(click.count(), 1);
        QCOMPARE(click.at(0).at(0).value<uint64_t>(), uint64_t(200));

        // Play handle overlapping the start handle: the play handle wins.
        s->setLowerValue(0);
        s->setCenterValue(0);
        const QRect play = s->centerHandleRect();
        QVERIFY(play.intersects(s->lowerHandleRect().adjusted(0, 0, 20, 0)));
        press(s.get(), play.left() + 2);
        moveTo(s.get(), 300);
        release(s.get(), 300);
        QCOMPARE(lower.count(), 0);
        QCOMPARE(move.count(), 1);
        QVERIFY(s->centerValue() > 0);

        // Single handle: the hidden start and end rectangles take presses but do nothing.
        auto single = timeline(KvThreeHandleSlider::SingleHandle);
        QSignalSpy anything(single.get(), &KvThreeHandleSlider::centerValueTrackClick);
        press(single.get(), 2);
        moveTo(single.get(), 100);
        release(single.get(), 100);
        press(single.get(), 530);
        release(single.get(), 530);
        QCOMPARE(anything.count(), 0);
        QCOMPARE(single->centerValue(), uint64_t(500));
    }

    void sliderDragsStopAtThePlayPosition() {
        auto s = timeline(KvThreeHandleSlider::ThreeHandles);
        QSignalSpy lower(s.get(), &KvThreeHandleSlider::lowerValueChanged);
        QSignalSpy upper(s.get(), &KvThreeHandleSlider::upperValueChanged);
        press(s.get(), 3);
        for (int x = 10; x <= 520; x += 30)
            moveTo(s.get(), x);
        release(s.get(), 520);
        QCOMPARE(s->lowerValue(), uint64_t(500));
        QVERIFY(lower.count() > 0);
        QCOMPARE(lower.last().at(0).value<uint64_t>(), uint64_t(500));

        press(s.get(), 529);
        for (int x = 520; x >= 5; x -= 30)
            moveTo(s.get(), x);
        release(s.get(), 5);
        QCOMPARE(s->upperValue(), uint64_t(500));
        QVERIFY(upper.count() > 0);

        // Play handle dragged outside the stretch between start and end: nothing moves.
        s->setLowerValue(200);
        s->setUpperValue(800);
        QSignalSpy move(s.get(), &KvThreeHandleSlider::centerValueMove);
        const QRect play = s->centerHandleRect();
        press(s.get(), play.center().x());
        moveTo(s.get(), 5);
        moveTo(s.get(), 531);
        release(s.get(), 531);
        QCOMPARE(move.count(), 0);
        QCOMPARE(s->centerValue(), uint64_t(500));
    }

    void sliderRangeSettersLeaveThePlayPosition() {
        auto s = timeline(KvThreeHandleSlider::ThreeHandles);
        QSignalSpy range(s.get(), &KvThreeHandleSlider::rangeChanged);
        s->setMaximum(400);
        QCOMPARE(s->upperValue(), uint64_t(400));
        QCOMPARE(s->lowerValue(), uint64_t(0));
        QCOMPARE(s->centerValue(), uint64_t(500));  // not re-clamped
        s->setMinimum(450);
        QCOMPARE(s->lowerValue(), uint64_t(450));
        QCOMPARE(s->centerValue(), uint64_t(500));
        QCOMPARE(range.count(), 2);
        QCOMPARE(range.last().at(0).value<uint64_t>(), uint64_t(450));
        QCOMPARE(range.last().at(1).value<uint64_t>(), uint64_t(400));

        // Long ranges (beyond 2^31 units) map exactly like short ones.
        const uint64_t base = 1700000000000000ull, span = 1ull << 40;
        s->setMaximum(base + span);
        s->setMinimum(base);
        s->setUpperValue(base + span);
        s->setCenterValue(base + span / 2);
        QCOMPARE(s->centerHandleRect().left(), 256);
        press(s.get(), 413);  // a track click: value(400) of 520
        release(s.get(), 413);
        const double expected = double(base) + 400.0 / 520.0 * double(span);
        QVERIFY(std::fabs(double(s->centerValue()) - expected) < double(span) * 1e-6);

        QSignalSpy lower(s.get(), &KvThreeHandleSlider::lowerValueChanged);
        s->setHandleMode(KvThreeHandleSlider::SingleHandle);
        QCOMPARE(lower.count(), 1);
        QCOMPARE(s->lowerValue(), base);
        QCOMPARE(s->upperValue(), base + span);
    }

    void sliderEmptyRangeAndTinyWidthStayFinite() {
        KvThreeHandleSlider s(nullptr, Qt::Horizontal, KvThreeHandleSlider::ThreeHandles);
        s.setMaximum(5);
        s.setMinimum(5);
        s.setCenterValue(5);
        s.resize(10, 30);
        for (QRect r : {s.lowerHandleRect(), s.centerHandleRect(), s.upperHandleRect()}) {
            QVERIFY(std::abs(r.left()) < 100);
        }
        press(&s, 8);
        moveTo(&s, 9);
        release(&s, 9);
        QCOMPARE(s.centerValue(), uint64_t(5));
        QImage image(s.size(), QImage::Format_ARGB32);
        s.render(&image);  // paints without trouble
    }

    void sliderDisabledColours() {
        auto s = timeline(KvThreeHandleSlider::ThreeHandles);
        QCOMPARE(s->rangeColor(), QColor("#004B6A"));
        s->setEnabled(false);
        QCOMPARE(s->rangeColor(), QColor("#C7C7C7"));
        QCOMPARE(s->playFillColor(), QColor("#C7C7C7"));
        QCOMPARE(s->playOutlineColor(), QColor("#707070"));
        s->setEnabled(true);
        QCOMPARE(s->playFillColor(), QColor("#FFFFFF"));
    }

    void imageViewZoomLimitsAndFitting() {
        ShowImageForm form;
        form.resize(840, 429);
        QVERIFY(shownOnScreen(form));
        QCOMPARE(form.pixmap().size(), QSize(1280, 720));
        QCOMPARE(form.pixmap().toImage().pixelColor(640, 360), QColor("#707070"));
        KvGraphicsView* view = form.view();
        const double fitted = view->transform().m11();

        wheel(view->viewport(), -120);  // zooming out below the fitted view does nothing
        QCOMPARE(view->currentScale(), 1.0);
        QCOMPARE(view->transform().m11(), fitted);
        for (int i = 0; i < 42; ++i)
            wheel(view->viewport(), 120);
        QVERIFY(std::fabs(view->currentScale() - std::pow(1.1, 42)) < 1e-9);
        QVERIFY(std::fabs(view->currentScale() - 54.76) < 0.01);
        wheel(view->viewport(), 120);  // the 43rd does nothing
        QVERIFY(std::fabs(view->currentScale() - std::pow(1.1, 42)) < 1e-9);
        wheel(view->viewport(), 0, 120);  // a horizontal wheel zooms out
        QVERIFY(std::fabs(view->currentScale() - std::pow(1.1, 41)) < 1e-9);

        QTest::mouseDClick(view->viewport(), Qt::LeftButton);
        QCOMPARE(view->currentScale(), 1.0);
        QVERIFY(std::fabs(view->transform().m11() - fitted) < 1e-9);

        // Same-size images keep the zoom; a resize refits and resets it.
        wheel(view->viewport(), 120);
        const double zoomed = view->transform().m11();
        QImage frame(1280, 720, QImage::Format_RGB888);
        frame.fill(Qt::red);
        form.slotShowImage(frame);
        QCOMPARE(view->transform().m11(), zoomed);
        QCOMPARE(form.pixmapItem()->pixmap().toImage().pixelColor(1, 1), QColor(Qt::red));
        form.resize(600, 400);
        QCOMPARE(view->currentScale(), 1.0);
    }

    void kvSliderJumpsToClicks() {
        struct Probe : KvSlider {
            using KvSlider::KvSlider;
            QRect handle() {
                QStyleOptionSlider o;
                initStyleOption(&o);
                return style()->subControlRect(QStyle::CC_Slider, &o, QStyle::SC_SliderHandle,
                                               this);
            }
        } slider(Qt::Horizontal);
        slider.setRange(0, 100);
        slider.resize(220, 24);
        QVERIFY(shownOnScreen(slider));
        QSignalSpy clicked(&slider, &KvSlider::trackClicked);
        QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(110, 12));
        QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(110, 12));
        QCOMPARE(clicked.count(), 1);
        QVERIFY(std::abs(slider.value() - 50) <= 1);
        QCOMPARE(clicked.at(0).at(0).toInt(), slider.value());
        // A press on the handle drags it rather than jumping.
        slider.setValue(20);
        const QRect handle = slider.handle();
        QTest::mousePress(&slider, Qt::LeftButton, {}, handle.center());
        QVERIFY(slider.isSliderDown());
        QVERIFY(std::abs(slider.value() - 20) <= 1);
        QTest::mouseRelease(&slider, Qt::LeftButton, {}, handle.center());
    }

    void comboBoxesIgnoreTheWheelAndReport() {
        KvComboBox box;
        box.comboBox()->addItems({"One", "Two", "Three"});
        box.comboBox()->setCurrentIndex(1);
        QWheelEvent e(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        e.setAccepted(true);
        QApplication::sendEvent(box.comboBox(), &e);
        QVERIFY(!e.isAccepted());  // ignored: the enclosing panel scrolls instead
        QCOMPARE(box.comboBox()->currentIndex(), 1);

        QSignalSpy shown(box.comboBox(), &KVComboBoxBase::popupShown);
        QSignalSpy hidden(box.comboBox(), &KVComboBoxBase::popupHidden);
        box.show();
        box.comboBox()->showPopup();
        box.comboBox()->hidePopup();
        QCOMPARE(shown.count(), 1);
        QCOMPARE(hidden.count(), 1);

        QSignalSpy finished(&box, &KvComboBox::signalLineEditEditingFinished);
        QSignalSpy typed(&box, &KvComboBox::signalLineEditTextChanged);
        box.setEditable(false);
        box.comboBox()->setCurrentIndex(2);  // choosing an option finishes an edit
        QCOMPARE(finished.count(), 1);
        box.comboBox()->lineEdit()->setText("by program");
        QCOMPARE(typed.count(), 0);
        QVERIFY(box.comboBox()->lineEdit()->isReadOnly());
        box.setEditable(true);
        QVERIFY(!box.comboBox()->lineEdit()->isReadOnly());
        box.comboBox()->lineEdit()->setText("typed");
        QCOMPARE(typed.count(), 1);

        // A value wider than the box shows from its start, whole in the tip.
        box.setEditable(false);  // as a setting row's box
        box.comboBox()->addItem("polarity_change_and_more");
        box.setFixedWidth(134);
        box.comboBox()->setCurrentIndex(3);
        QCOMPARE(box.comboBox()->lineEdit()->cursorPosition(), 0);
        QCOMPARE(box.comboBox()->toolTip(), QString("polarity_change_and_more"));
    }

    void styleDeclarationsReplacedOrAppended() {
        KvComboBox box;
        box.setTextColor("#123456");
        QVERIFY(box.comboStyleSheet().contains("color: #123456;"));
        QVERIFY(box.comboStyleSheet().contains("background-color: #FFFFFF;"));  // untouched
        QVERIFY(box.comboStyleSheet().contains("border: 1px solid #A7A7A7;"));
        box.setStyleProperty("padding-right", "padding-right: 5px;");
        QVERIFY(box.comboStyleSheet().contains("padding-right: 5px;"));
        QVERIFY(!box.comboStyleSheet().contains("25px"));
        box.setStyleProperty("margin", "margin: 1px;");
        QVERIFY(box.comboStyleSheet().endsWith("margin: 1px;"));
        box.setFrameColor("#D7E7EE");
        QVERIFY(box.frameStyleSheet().startsWith("border: 2px solid #D7E7EE;"));
    }

    void lineEditBorderFollowsFocus() {
        QWidget host;
        auto* edit = new KvLineEditBase(&host);
        auto* other = new QLineEdit(&host);
        other->move(0, 40);
        host.show();
        QApplication::setActiveWindow(&host);
        QVERIFY(QTest::qWaitForWindowActive(&host));
        other->setFocus();  // the edit may have taken the window's first focus
        QTRY_VERIFY(other->hasFocus());
        QVERIFY(edit->styleSheet().contains("border: 1px solid #ACACAC;"));
        QSignalSpy hovered(edit, &KvLineEditBase::signalMouseHoverd);
        edit->setFocus();
        QTRY_VERIFY(edit->styleSheet().contains("border: 1px solid #004B6A;"));
        other->setFocus();
        QTRY_VERIFY(edit->styleSheet().contains("border: 1px solid #ACACAC;"));
        QTRY_COMPARE(hovered.count(), 2);
        QCOMPARE(hovered.at(0).at(0).toBool(), true);
        QCOMPARE(hovered.at(1).at(0).toBool(), false);
    }
};

VELQORA_TEST_MAIN(WidgetsTest)
#include "test_widgets.moc"
