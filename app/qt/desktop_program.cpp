#include "app/qt/desktop_program.h"

#include <QApplication>
#include <exception>

#include "app/qt/keluflash_application.h"
#include "app/qt/single_instance_lock.h"

namespace keluflash {

MainWindow::MainWindow(TAtapi& atapi, Clock& clock, SystemServices& system, UserInterface& ui)
    : m_window(ui), m_form(atapi, clock, system, m_window) {
    m_window.Attach(m_form);
    m_form.FormCreate();
}

int RunDesktopProgram(UserInterface& ui, Transport& transport, Clock& clock, SystemServices& system,
                      const DesktopOptions& options) {
    // Message boxes carry the title from the start, also one that shows an
    // exception of the drive scan.
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
    QGuiApplication::setDesktopFileName(QStringLiteral("keluflash"));
    try {
        // The drive-access object comes first: a second instance scans the
        // drives too before it ends. It outlives the window.
        TAtapi atapi(transport, ui);
        const SingleInstanceLock lock(InstanceLockPath(options.instanceName));
        if (lock.AlreadyRunning()) {
            return 0;
        }
        MainWindow main(atapi, clock, system, ui);
        if (options.beforeShow) {
            options.beforeShow(main);
        }
        main.Window().show();
        QApplication::exec();
    } catch (const std::exception& error) {
        ShowException(error);
    }
    return 0;
}

}  // namespace keluflash
