// The desktop start-up over one simulated drive, for the start-up tests. It
// reports on standard output what a person would see:
//   "shown <caption>"                 the main window is on screen
//   "box <caption>|<text>|<icon>"     a message box (answered with OK)
//   "scanned <n>"                     commands the drive got (at the end)
// Modes: run (stay until killed), close (close the window once shown),
// throw (an exception escapes start-up).
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "app/qt/desktop_program.h"
#include "app/qt/keluflash_application.h"
#include "app/qt/qt_user_interface.h"
#include "app/recording_system_services.h"
#include "drive/sim/simulated_windows_machine.h"

namespace {

void Say(const QString& line) {
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

// Answers every modal box the toolkit shows, after reporting it.
void WatchForBoxes() {
    QTimer::singleShot(20, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            Say(QStringLiteral("box %1|%2|%3")
                    .arg(box->windowTitle(), box->text(),
                         box->icon() == QMessageBox::Critical ? QStringLiteral("stop") : QStringLiteral("other")));
            box->accept();
        }
        WatchForBoxes();
    });
}

}  // namespace

int main(int argc, char** argv) {
    keluflash::KeluApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "run";
    keluflash::QtUserInterface ui;
    keluflash::SimulatedWindowsMachine machine(keluflash::SimulatedMachineConfig{}, ui);
    keluflash::RecordingSystemServices system;
    WatchForBoxes();
    keluflash::DesktopOptions options;
    options.beforeShow = [&](keluflash::MainWindow& main) {
        if (mode == "throw") {
            throw std::runtime_error("the probe failed on purpose");
        }
        QTimer::singleShot(0, [&main, mode] {
            Say(QStringLiteral("shown ") + main.Window().windowTitle());
            if (mode == "close") {
                main.Window().close();
            }
        });
    };
    const int code = keluflash::RunDesktopProgram(machine.Ui(), machine.DriveTransport(), machine.Clock(), system, options);
    Say(QStringLiteral("scanned %1").arg(machine.Drive(0).Commands().size()));
    return code;
}
