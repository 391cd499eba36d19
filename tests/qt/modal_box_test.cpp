// The real message boxes of the Linux window: a system error raised by the
// drive layer in the middle of Start is a QMessageBox owned by the main
// window and modal to the application, and a click on Start behind it does
// not run a second update inside the first; the downgrade question is such a
// box too.
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cerrno>
#include <functional>

#include "app/qt/desktop_program.h"
#include "app/qt/qt_user_interface.h"
#include "app/recording_system_services.h"
#include "drive/sim/simulated_machine.h"
#include "image/image_writer.h"

using namespace keluflash;

namespace {

// Runs `act` on every application-modal box that opens, until stopped.
class BoxWatcher {
public:
    explicit BoxWatcher(std::function<void(QMessageBox&)> act) : m_act(std::move(act)) { Poll(); }
    ~BoxWatcher() { *m_stopped = true; }  // the pending poll holds the flag, not the watcher

private:
    void Poll() {
        QTimer::singleShot(10, [this, stopped = m_stopped] {
            if (*stopped) return;
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                // Marked on the box itself: a later box may reuse the
                // address of one already handled and deleted.
                if (box->isVisible() && !box->property("keluflashSeen").toBool()) {
                    box->setProperty("keluflashSeen", true);
                    m_act(*box);
                }
            }
            Poll();
        });
    }
    std::function<void(QMessageBox&)> m_act;
    std::shared_ptr<bool> m_stopped = std::make_shared<bool>(false);
};

}  // namespace

class ModalBoxTest : public QObject {
    Q_OBJECT

private slots:
    void aStartBehindASystemErrorBoxDoesNothing() {
        QTemporaryDir dir;
        const ImageWriteResult built = BuildDemoFirmware(DemoFirmwareRecipe{});
        const std::string image = dir.filePath(QStringLiteral("demo.kfs")).toStdString();
        std::string error;
        QVERIFY2(SaveImageFile(image, built.bytes, error), error.c_str());

        // STOP PLAY/SCAN fails once with a system error: the drive layer shows
        // it in a box while Start's handler runs.
        SimulatedMachineConfig config;
        config.faults = {{.opcode = 0x4E, .times = 1, .kind = MachineFaultKind::OsError, .osError = EIO}};
        QtUserInterface ui;
        const std::unique_ptr<SimulatedMachine> simulated = MakeSimulatedMachine(config, ui);
        SimulatedMachine& machine = *simulated;
        TAtapi atapi(machine.DriveTransport(), machine.Ui());
        RecordingSystemServices system;
        MainWindow main(atapi, machine.Clock(), system, machine.Ui());
        main.Window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&main.Window()));
        main.Window().SetOpenDialog([image](std::string& name) {
            name = image;
            return true;
        });
        QTest::mouseClick(&main.Window().Widgets().bitBtn1, Qt::LeftButton);
        machine.Drive(0).ClearCommands();

        QStringList boxes;
        bool ownedAndModal = false;
        BoxWatcher watcher([&](QMessageBox& box) {
            boxes << box.text();
            if (box.text().startsWith(QStringLiteral("Reboot"))) {
                box.button(QMessageBox::Cancel)->click();
                return;
            }
            ownedAndModal = box.parentWidget() == &main.Window() && box.windowModality() == Qt::ApplicationModal;
            // The operator clicks Start behind the box, then OK.
            QTest::mouseClick(&main.Window().Widgets().bitBtn2, Qt::LeftButton);
            box.button(QMessageBox::Ok)->click();
        });
        QTest::mouseClick(&main.Window().Widgets().bitBtn2, Qt::LeftButton);

        QCOMPARE(boxes.size(), 2);
        QVERIFY(ownedAndModal);
        QCOMPARE(machine.Drive(0).TriggersAccepted(), 1);
        QStringList lines;
        for (const std::string& line : main.Form().Messages()) lines << QString::fromStdString(line);
        QCOMPARE(lines, (QStringList{QStringLiteral("Revision: drive 1.00, image 1.00 (the same: flashing again only "
                                                    "repairs)"),
                                     QStringLiteral("Flashing .."), QStringLiteral("Ok:Flash Complete!!"),
                                     QStringLiteral("OK:Verify ok!!")}));
    }

    // A downgrade asks once before the first write, in a Yes/No box owned by
    // the main window and modal to the application, with No as its default:
    // No keeps the drive's firmware, Yes flashes.
    void aDowngradeAsksInAnOwnedYesNoBox() {
        QTemporaryDir dir;
        DemoFirmwareRecipe recipe;
        recipe.revision = "1.00";
        const ImageWriteResult built = BuildDemoFirmware(recipe);
        const std::string image = dir.filePath(QStringLiteral("old.kfs")).toStdString();
        std::string error;
        QVERIFY2(SaveImageFile(image, built.bytes, error), error.c_str());

        SimulatedMachineConfig config;
        config.drives[0].revision = "2.00";
        QtUserInterface ui;
        const std::unique_ptr<SimulatedMachine> simulated = MakeSimulatedMachine(config, ui);
        SimulatedMachine& machine = *simulated;
        TAtapi atapi(machine.DriveTransport(), machine.Ui());
        RecordingSystemServices system;
        MainWindow main(atapi, machine.Clock(), system, machine.Ui());
        main.Window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&main.Window()));
        main.Window().SetOpenDialog([image](std::string& name) {
            name = image;
            return true;
        });
        QTest::mouseClick(&main.Window().Widgets().bitBtn1, Qt::LeftButton);
        QCOMPARE(main.Form().Messages().back(), std::string("Revision: drive 2.00, image 1.00 (older: a downgrade)"));

        for (const bool agree : {false, true}) {
            QStringList questions;
            bool ownedAndModal = false;
            bool noIsDefault = false;
            BoxWatcher watcher([&](QMessageBox& box) {
                if (box.text().startsWith(QStringLiteral("Reboot"))) {
                    box.button(QMessageBox::Cancel)->click();
                    return;
                }
                questions << box.text();
                ownedAndModal = box.parentWidget() == &main.Window() && box.windowModality() == Qt::ApplicationModal;
                noIsDefault = box.defaultButton() == box.button(QMessageBox::No) && box.button(QMessageBox::Yes);
                box.button(agree ? QMessageBox::Yes : QMessageBox::No)->click();
            });
            QTest::mouseClick(&main.Window().Widgets().bitBtn2, Qt::LeftButton);

            QCOMPARE(questions, QStringList{QStringLiteral(
                                    "The image holds firmware 1.00, older than the drive's 2.00: a downgrade.\nFlash "
                                    "it anyway ?")});
            QVERIFY(ownedAndModal);
            QVERIFY(noIsDefault);
            QCOMPARE(machine.Drive(0).TriggersAccepted(), agree ? 1 : 0);
            QCOMPARE(main.Form().LastUpdateResult(), agree ? UpdateResult::Verified : UpdateResult::Refused);
        }
    }
};

QTEST_MAIN(ModalBoxTest)
#include "modal_box_test.moc"
