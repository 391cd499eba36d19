// keluflash: the desktop program. It takes no arguments and keeps no settings
// or log; it reaches the drives through SG_IO.
#include "app/qt/desktop_program.h"
#include "app/qt/keluflash_application.h"
#include "app/qt/logind_system_services.h"
#include "app/qt/qt_user_interface.h"
#include "drive/linux/linux_kernel.h"
#include "drive/linux/sg_io_transport.h"
#include "drive/steady_clock.h"

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Rewrites the firmware of KELU CD/DVD drives from .kfs image files, in a window.\n"
                       "It takes no arguments; keluflash-cli does the same from a terminal."));
    parser.addHelpOption();
    parser.addVersionOption();
    keluflash::AnswerHelpWithoutDisplay(argc, argv, parser);
    keluflash::KeluApplication app(argc, argv);
    keluflash::QtUserInterface ui;
    keluflash::HostLinuxKernel kernel;
    keluflash::SgIoTransport drives(kernel);
    keluflash::SteadyClock clock;
    keluflash::LogindSystemServices system;
    return keluflash::RunDesktopProgram(ui, drives, clock, system);
}
