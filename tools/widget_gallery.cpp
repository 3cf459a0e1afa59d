// Renders each of the program's own widgets to a PNG, for looking at them.
//   build/bin/velqora_widget_gallery OUT_DIR

#include <QApplication>
#include <QDir>
#include <QTimer>

#include "KVComboBoxBase.h"
#include "KVMessageBox.h"
#include "KvComboBox.h"
#include "KvFilePathReminderForm.h"
#include "KvLineEditBase.h"
#include "KvThreeHandleSlider.h"
#include "ShowImageForm.h"
#include "Startup.h"
#include "WaitingWin.h"

namespace {
void save(QWidget& w, const QString& dir, const QString& name) {
    w.grab().save(dir + "/" + name + ".png");
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    registerEmbeddedFont();
    loadLanguage(argc > 2 ? QString(argv[2]) : QString("en"));
    const QString dir = argc > 1 ? argv[1] : QDir::currentPath();
    QDir().mkpath(dir);

    for (auto mode : {KvThreeHandleSlider::SingleHandle, KvThreeHandleSlider::ThreeHandles}) {
        for (bool enabled : {true, false}) {
            KvThreeHandleSlider s(nullptr, Qt::Horizontal, mode);
            s.resize(600, 30);
            s.setMinimum(1000);
            s.setMaximum(21000);
            s.setCenterValue(9000);
            if (mode == KvThreeHandleSlider::ThreeHandles) {
                s.setLowerValue(4000);
                s.setUpperValue(17000);
            }
            s.setEnabled(enabled);
            save(s, dir,
                 QString("slider_%1_%2")
                     .arg(mode == KvThreeHandleSlider::ThreeHandles ? "three" : "single",
                          enabled ? "enabled" : "disabled"));
        }
    }
    const char* names[] = {"success", "warning", "error"};
    for (int t = 0; t < 3; ++t) {
        KvFilePathReminderForm toast(
            t == 1 ? QString("Currently being recorded.") : QString("Export raw file success!"),
            static_cast<KvMessageType>(t), t == 0 ? QDir::tempPath() : "");
        toast.show();
        save(toast, dir, QString("toast_%1").arg(names[t]));
    }
    KVMessageBox box("The language change will take effect after restart.", "Tips", "Restart",
                     "Later");
    box.show();
    save(box, dir, "message_box");

    ShowImageForm image;
    image.resize(840, 429);
    image.show();
    save(image, dir, "image_view");

    QWidget inputs;
    inputs.resize(360, 110);
    auto* combo = new KvComboBox(&inputs);
    combo->comboBox()->addItems({"Gray", "RedBlue", "Dark"});
    combo->setGeometry(10, 10, 200, 34);
    auto* edit = new KvLineEditBase(&inputs);
    edit->setText("33333");
    edit->setGeometry(10, 60, 120, 30);
    inputs.setStyleSheet("background: #F2F2F2;");
    inputs.show();
    save(inputs, dir, "inputs");

    QWidget anchor;
    anchor.resize(400, 320);
    anchor.setStyleSheet("background: #707070;");
    anchor.show();
    WaitingWin waiting(&anchor);
    waiting.show();
    QTimer::singleShot(200, [&] {
        save(waiting, dir, "waiting");
        app.quit();
    });
    return app.exec();
}
