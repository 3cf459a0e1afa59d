#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>

#include "AppTestMain.h"
#include "KVMessageBox.h"
#include "KvFilePathReminderForm.h"
#include "KvToolTip.h"
#include "WaitingWin.h"
#include "WindowFrameAgent.h"

namespace {

// Qt's default (coarse) timers may fire up to 5 % early; a load only makes
// them late. So a wait is checked from below only, never against a margin.
// Less 1 ms: both ends are read off a whole-millisecond clock, so a wait of
// exactly the earliest firing can read 1 ms short (seen: 1899 for 1900).
qint64 earliestFiring_ms(int interval_ms) {
    return interval_ms - interval_ms / 20 - 1;
}

// Records when a widget is shown and hidden, on one clock started at creation.
class VisibilityLog : public QObject {
public:
    explicit VisibilityLog(QWidget* widget) {
        clock_.start();
        widget->installEventFilter(this);
    }
    qint64 now_ms() const { return clock_.elapsed(); }

    QList<qint64> shownAt_ms;
    QList<qint64> hiddenAt_ms;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show) shownAt_ms << now_ms();
        if (event->type() == QEvent::Hide) hiddenAt_ms << now_ms();
        return false;
    }

private:
    QElapsedTimer clock_;
};

}  // namespace

class NotificationsTest : public QObject {
    Q_OBJECT

private slots:
    void resolveDirectory() {
        QTemporaryDir dir;
        const QString file = dir.filePath("rec.raw");
        QFile(file).open(QIODevice::WriteOnly);
        QCOMPARE(KvFilePathReminderForm::resolveDirectory(dir.path()),
                 QDir(dir.path()).absolutePath());
        QCOMPARE(KvFilePathReminderForm::resolveDirectory(file), QDir(dir.path()).absolutePath());
        QFile::remove(file);  // a deleted file in an existing directory: its directory
        QCOMPARE(KvFilePathReminderForm::resolveDirectory(file), QDir(dir.path()).absolutePath());
        QCOMPARE(KvFilePathReminderForm::resolveDirectory(dir.filePath("gone/away/x.raw")),
                 QString());
        QCOMPARE(KvFilePathReminderForm::resolveDirectory(QString()), QString());
    }

    void toastLooksButtonsAndLifetime() {
        QElapsedTimer clock;
        clock.start();  // before any toast exists, so never later than a toast's own timer
        QPointer<KvFilePathReminderForm> plain =
            new KvFilePathReminderForm("Recording end", KvMessageType::Success, QString());
        plain->show();
        QVERIFY(!plain->hasOpenDirButton());
        QCOMPARE(plain->size(), QSize(226, 70));
        QCOMPARE(plain->findChild<QLabel*>("lb_title")->text(), QString("Success"));

        QTemporaryDir dir;
        QPointer<KvFilePathReminderForm> withDir =
            new KvFilePathReminderForm("Save file success!", KvMessageType::Error, dir.path());
        withDir->show();
        QVERIFY(withDir->hasOpenDirButton());
        QCOMPARE(withDir->findChild<QLabel*>("lb_title")->text(), QString("Error"));
        QPointer<KvFilePathReminderForm> odd =
            new KvFilePathReminderForm("x", static_cast<KvMessageType>(7), QString());
        QCOMPARE(odd->findChild<QLabel*>("lb_title")->text(), QString("Success"));

        QList<qint64> destroyedAt_ms;
        for (QObject* toast : {plain.data(), withDir.data(), odd.data()})
            connect(toast, &QObject::destroyed, this, [&] { destroyedAt_ms << clock.elapsed(); });

        // Closing only hides; the timer still destroys each toast after its lifetime.
        withDir->findChild<QPushButton*>("pb_close")->click();
        QVERIFY(withDir && withDir->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(plain.isNull() && withDir.isNull() && odd.isNull(), 60000);
        QCOMPARE(destroyedAt_ms.size(), 3);
        for (qint64 at_ms : destroyedAt_ms)
            QVERIFY2(at_ms >= earliestFiring_ms(KvFilePathReminderForm::kLifetimeMs),
                     qPrintable(QString::number(at_ms)));
    }

    // A notice arriving while a menu is open leaves the menu open.
    void noticeNeverTakesFocusOrClosesAMenu() {
        QWidget window;
        QVERIFY(shownOnScreen(window));
        window.activateWindow();
        QMenu menu;
        menu.addAction("Open Recording");
        menu.popup(window.mapToGlobal(QPoint(10, 10)));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        auto* toast = new KvFilePathReminderForm("Recording file ... ", KvMessageType::Success, "");
        toast->show();
        QVERIFY(QTest::qWaitForWindowExposed(toast));
        QVERIFY(toast->testAttribute(Qt::WA_ShowWithoutActivating));
        QVERIFY(toast->windowFlags() & Qt::WindowDoesNotAcceptFocus);
        QTest::qWait(200);  // give an activation the chance to close the popup
        QVERIFY(menu.isVisible());
        QCOMPARE(QApplication::activePopupWidget(), &menu);
        QVERIFY(!toast->isActiveWindow());
        menu.close();
        delete toast;
    }

    // A long notice grows to show its whole text: every line (a sentence,
    // Chinese text, a path that no line can break) within the label.
    void longNoticesShowTheirWholeText() {
        const QStringList texts{
            "Cannot cut: the target is the recording being played. Choose another file name "
            "or another folder, then try again.",
            QString::fromUtf8("无法剪切：目标文件就是正在播放的录像。请选择另一个文件名或另一个"
                              "文件夹，然后重试。"),
            "Recording failed: /home/user/Documents/KorvaneData/KVSIM-QUENTA-0001_20261207_181500"
            ".raw",
        };
        for (const QString& text : texts) {
            auto* toast = new KvFilePathReminderForm(text, KvMessageType::Error, QString());
            toast->show();
            QVERIFY(QTest::qWaitForWindowExposed(toast));
            auto* label = toast->findChild<QLabel*>("lb_tips");
            QCOMPARE(label->text(), text);
            QVERIFY(toast->width() >= 226 && toast->height() >= 70);
            QVERIFY2(label->heightForWidth(label->width()) <= label->height(),
                     qPrintable(QString("%1 > %2: %3")
                                    .arg(label->heightForWidth(label->width()))
                                    .arg(label->height())
                                    .arg(text)));
            for (const QString& word : text.split(' '))
                QVERIFY2(label->fontMetrics().horizontalAdvance(word) <= label->width(),
                         qPrintable(word));
            delete toast;
        }
        // A short one keeps the small size.
        KvFilePathReminderForm shortOne("Recording end", KvMessageType::Success, QString());
        QCOMPARE(shortOne.size(), QSize(226, 70));
    }

    void toolTipTimings() {
        QWidget anchor;
        anchor.resize(80, 30);
        anchor.move(300, 300);
        QVERIFY(shownOnScreen(anchor));
        KvToolTip tip("Bias of the ON threshold", 0, &anchor);
        tip.installOn(&anchor);
        QSignalSpy textChanged(&tip, &KvToolTip::textChanged);
        tip.setText("Bias of the ON threshold");  // unchanged: no signal
        QCOMPARE(textChanged.count(), 0);
        VisibilityLog log(&tip);

        // Shown no earlier than the delay after the pointer enters, placed
        // centred above the anchor, hidden no earlier than its time after showing.
        QEvent enter(QEvent::Enter);
        const qint64 enteredAt_ms = log.now_ms();
        QApplication::sendEvent(&anchor, &enter);
        QVERIFY(tip.showTimerActive());
        QVERIFY(tip.isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(log.shownAt_ms.size() == 1, 60000);
        QVERIFY2(log.shownAt_ms[0] - enteredAt_ms >= earliestFiring_ms(KvToolTip::kShowDelayMs),
                 qPrintable(QString::number(log.shownAt_ms[0] - enteredAt_ms)));
        const QPoint corner = anchor.mapToGlobal(QPoint(0, 0));
        QCOMPARE(tip.pos().y(), corner.y() - tip.height());
        QCOMPARE(tip.pos().x(), corner.x() - std::abs(tip.width() - anchor.width()) / 2);
        QTRY_VERIFY_WITH_TIMEOUT(log.hiddenAt_ms.size() == 1, 60000);
        QVERIFY2(log.hiddenAt_ms[0] - log.shownAt_ms[0] >= earliestFiring_ms(KvToolTip::kShownMs),
                 qPrintable(QString::number(log.hiddenAt_ms[0] - log.shownAt_ms[0])));

        // Leaving hides a shown tip after the short leave delay.
        QApplication::sendEvent(&anchor, &enter);
        QTRY_VERIFY_WITH_TIMEOUT(log.shownAt_ms.size() == 2, 60000);
        QEvent leave(QEvent::Leave);
        const qint64 leftAt_ms = log.now_ms();
        QApplication::sendEvent(&anchor, &leave);
        QVERIFY(!tip.showTimerActive());
        QVERIFY(tip.hideTimerActive());
        QCOMPARE(tip.hideTimerInterval_ms(), KvToolTip::kLeaveHideMs);  // replaces the 3 s one
        QTRY_VERIFY_WITH_TIMEOUT(log.hiddenAt_ms.size() == 2, 60000);
        QVERIFY2(log.hiddenAt_ms[1] - leftAt_ms >= earliestFiring_ms(KvToolTip::kLeaveHideMs),
                 qPrintable(QString::number(log.hiddenAt_ms[1] - leftAt_ms)));
    }

    // A tip by an anchor at the screen's corner stays on the screen: long
    // texts wrap, a tip with no room above goes below, none runs off the left.
    void toolTipsStayOnScreen() {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QString longText =
            "Most events per second the camera delivers; beyond it the sensor drops events "
            "evenly over the picture until the rate falls back under the limit again.";
        for (int mode : {0, 2}) {
            QWidget anchor;
            anchor.resize(60, 30);
            anchor.move(area.topLeft());
            QVERIFY(shownOnScreen(anchor));
            KvToolTip tip(longText, mode, &anchor);
            tip.installOn(&anchor);
            QVERIFY(tip.width() <= KvToolTip::kMaxTextWidth);
            tip.showNow();  // no hover delay
            QVERIFY(tip.isVisible());
            QVERIFY(area.contains(tip.geometry()));
            QVERIFY2(tip.pos().y() >= anchor.mapToGlobal(QPoint(0, anchor.height())).y(),
                     "no room above: below the anchor");
            QCOMPARE(tip.text(), longText);
        }
    }

    void questionBoxResults() {
        for (const char* button : {"pb_open", "pb_close", "pb_win_close"}) {
            KVMessageBox box("The language change will take effect after restart.", "Tips",
                             "Restart", "Later");
            QCOMPARE(box.size(), QSize(500, 270));
            QCOMPARE(box.findChild<QPushButton*>("pb_open")->text(), QString("Restart"));
            QCOMPARE(box.findChild<QPushButton*>("pb_close")->text(), QString("Later"));
            QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
            QCOMPARE(box.frameAgent()->titleBar()->objectName(), QString("widget_title_name"));
            box.show();
            box.findChild<QPushButton*>(button)->click();
            QCOMPARE(box.result(), QString(button) == "pb_open" ? int(QDialog::Accepted)
                                                                : int(QDialog::Rejected));
        }
    }

    void waitingWindowCentresOnItsAnchor() {
        QWidget anchor;
        anchor.resize(1000, 650);
        anchor.move(50, 40);
        QVERIFY(shownOnScreen(anchor));
        WaitingWin waiting(&anchor);
        waiting.show();
        const QPoint corner = anchor.mapToGlobal(QPoint(0, 0));
        QCOMPARE(waiting.pos(),
                 QPoint(corner.x() + (1000 - 321) / 2, corner.y() + (650 - 276) / 2));
        QVERIFY(waiting.animationRunning());
        anchor.move(200, 100);
        QTRY_COMPARE(anchor.mapToGlobal(QPoint(0, 0)).x(), 200 + (corner.x() - 50));
        waiting.recenter();
        QCOMPARE(waiting.pos().x(), anchor.mapToGlobal(QPoint(0, 0)).x() + (1000 - 321) / 2);
        waiting.close();
        QVERIFY(!waiting.animationRunning());
    }

    void frameAgentEdgesAndTitleBar() {
        QWidget window;
        window.resize(400, 300);
        auto* bar = new QWidget(&window);
        bar->setGeometry(0, 0, 400, 40);
        auto* close = new QPushButton(bar);
        close->setGeometry(360, 5, 30, 30);
        auto* agent = new WindowFrameAgent(&window);
        QVERIFY(agent->setup(&window));
        QVERIFY(!agent->setup(&window));  // once per window
        agent->setTitleBar(bar);
        agent->setSystemButton(WindowFrameAgent::Close, close);
        QCOMPARE(agent->systemButton(WindowFrameAgent::Close), close);
        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(agent->edgesAt(QPoint(2, 2)), Qt::LeftEdge | Qt::TopEdge);
        QCOMPARE(agent->edgesAt(QPoint(398, 150)), Qt::Edges(Qt::RightEdge));
        QCOMPARE(agent->edgesAt(QPoint(200, 150)), Qt::Edges());
        QVERIFY(shownOnScreen(window));
        QTest::mouseDClick(bar, Qt::LeftButton, {}, QPoint(100, 20));
        QTRY_VERIFY(window.isMaximized());
        QCOMPARE(agent->edgesAt(QPoint(2, 2)), Qt::Edges());  // no resizing while maximised
        QTest::mouseDClick(bar, Qt::LeftButton, {}, QPoint(100, 20));
        QTRY_VERIFY(!window.isMaximized());
        // A system button in the bar stays a button.
        QSignalSpy clicked(close, &QPushButton::clicked);
        QTest::mouseClick(close, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
    }
};

VELQORA_TEST_MAIN(NotificationsTest)
#include "test_notifications.moc"
