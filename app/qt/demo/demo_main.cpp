// keluflash-demo: the desktop window over simulated KELU drives, for trying
// the tool without one. Its firmware images are written into a temporary
// folder, where the Open dialog starts; a restart is only described.
//
//   keluflash-demo [--profile NAME] [--run IMAGE [--drive N]] [--fast]
//
// --run opens IMAGE (a name from the demo folder or a path), presses Start,
// answers message boxes with Cancel, prints the message list and "finished"
// when the update has ended: the screenshot is taken so.
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <memory>
#include <QCommandLineParser>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/qt/demo/demo_machine.h"
#include "app/qt/desktop_program.h"
#include "app/qt/keluflash_application.h"
#include "app/qt/qt_user_interface.h"
#include "drive/sim/paced_clock.h"

namespace keluflash {
namespace {

// A restart is only described.
class DemoSystemServices final : public SystemServices {
public:
    explicit DemoSystemServices(bool ask) : m_ask(ask) {}
    // Simulated drives: nothing to hold off.
    void UpdateBegins() override {}
    void UpdateEnds() override {}
    void DriveWriteBegins() override {}
    void DriveWriteEnds() override {}
    void RequestRestart() override {
        std::fprintf(stderr, "keluflash-demo: the real program would now ask the system to restart the computer.\n");
        if (m_ask) {
            QMessageBox::information(nullptr, QCoreApplication::applicationName(),
                                     QStringLiteral("Here the real program would restart the computer, so that "
                                                    "the drive starts with its new firmware.\n\n"
                                                    "The demo leaves the computer running."));
        }
    }

private:
    bool m_ask;
};

// In a scripted run nobody is there to answer: every box gets Cancel.
class DemoUserInterface final : public QtUserInterface {
public:
    explicit DemoUserInterface(bool scripted) : m_scripted(scripted) {}
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override {
        if (!m_scripted) return QtUserInterface::ShowMessage(text, caption, flags);
        std::fprintf(stderr, "keluflash-demo: %s: %s -> Cancel\n", caption.c_str(), text.c_str());
        return kIdCancel;
    }

private:
    bool m_scripted;
};

// SIGTERM and SIGINT end the demo as they would, but with its temporary
// folder removed first: their default action skips the destructors that
// remove it. The signals are blocked from the start, before any thread of the
// toolkit exists, and taken by a watcher thread of this object.
class FolderRemovalOnSignal {
public:
    FolderRemovalOnSignal() {
        sigemptyset(&m_signals);
        sigaddset(&m_signals, SIGTERM);
        sigaddset(&m_signals, SIGINT);
        pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
        m_watcher = std::thread([this] { Watch(); });
    }
    ~FolderRemovalOnSignal() {
        m_stop = true;
        m_watcher.join();
    }
    FolderRemovalOnSignal(const FolderRemovalOnSignal&) = delete;
    FolderRemovalOnSignal& operator=(const FolderRemovalOnSignal&) = delete;

    void Remove(const std::string& folder) {
        const std::lock_guard lock(m_mutex);
        m_folder = folder;
    }

private:
    void Watch() {
        constexpr timespec kPoll{0, 100'000'000};
        while (!m_stop) {
            const int signal = sigtimedwait(&m_signals, nullptr, &kPoll);
            if (signal <= 0) continue;
            {
                const std::lock_guard lock(m_mutex);
                std::error_code ignored;
                if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ignored);
            }
            // As if it had come now: the default action ends the program.
            struct sigaction action {};
            action.sa_handler = SIG_DFL;
            sigemptyset(&action.sa_mask);
            sigaction(signal, &action, nullptr);
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, signal);
            pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
            raise(signal);
        }
    }

    sigset_t m_signals{};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::string m_folder;
    std::thread m_watcher;
};

}  // namespace
}  // namespace keluflash

int main(int argc, char** argv) {
    using namespace keluflash;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The KELUFlash window over simulated KELU drives."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption profileOption(QStringLiteral("profile"),
                                           QStringLiteral("One simulated set-up instead of the demo's five drives."),
                                           QStringLiteral("name"));
    const QCommandLineOption runOption(QStringLiteral("run"), QStringLiteral("Open this image and press Start."),
                                       QStringLiteral("image"));
    const QCommandLineOption driveOption(QStringLiteral("drive"), QStringLiteral("Pick this drive (0 first) first."),
                                         QStringLiteral("index"), QStringLiteral("0"));
    const QCommandLineOption fastOption(QStringLiteral("fast"), QStringLiteral("No pacing: everything at once."));
    parser.addOptions({profileOption, runOption, driveOption, fastOption});
    AnswerHelpWithoutDisplay(argc, argv, parser);
    FolderRemovalOnSignal removal;
    KeluApplication app(argc, argv);
    parser.process(app);

    SimulatedMachineConfig config = DemoMachineConfig();
    if (parser.isSet(profileOption)) {
        const SimulatedProfile* profile = FindSimulatedProfile(parser.value(profileOption).toStdString());
        if (!profile) {
            std::fprintf(stderr, "keluflash-demo: no profile %s; there are:\n", qPrintable(parser.value(profileOption)));
            for (const SimulatedProfile& p : SimulatedProfiles()) {
                std::fprintf(stderr, "  %-16s %s: %s\n", p.name.c_str(), SimulatedPlatformName(p.config.platform).c_str(),
                             p.description.c_str());
            }
            return 2;
        }
        config = profile->config;
    }

    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/keluflash-demo-XXXXXX"));
    std::vector<std::string> images;
    std::string error;
    if (!folder.isValid() || !WriteDemoImages(config, folder.path().toStdString(), images, error)) {
        std::fprintf(stderr, "keluflash-demo: cannot write the demo images: %s\n", error.c_str());
        return 1;
    }
    removal.Remove(folder.path().toStdString());

    const bool scripted = parser.isSet(runOption);
    DemoUserInterface ui(scripted);
    const std::unique_ptr<SimulatedMachine> machine = MakeSimulatedMachine(config, ui);
    PacedClock clock(machine->Clock(), !parser.isSet(fastOption));
    DemoSystemServices system(!scripted);

    DesktopOptions options;
    options.instanceName = "MyAPP-demo";  // the demo does not keep the real program from starting
    options.beforeShow = [&](MainWindow& main) {
        main.Form().Atapi().SetCommandObserver(&clock);
        main.Window().SetDialogDirectory(folder.path());
        if (!scripted) return;
        QString image = parser.value(runOption);
        if (!image.contains(QLatin1Char('/'))) image = QDir(folder.path()).filePath(image);
        const int drive = parser.value(driveOption).toInt();
        QTimer::singleShot(200, &main.Window(), [&main, image, drive] {
            Form1Window& window = main.Window();
            if (drive > 0 && drive < window.Widgets().selDevice.count()) {
                window.Widgets().selDevice.setCurrentIndex(drive);
                emit window.Widgets().selDevice.activated(drive);
            }
            window.SetOpenDialog([image](std::string& fileName) {
                fileName = QFile::encodeName(image).toStdString();
                return true;
            });
            window.Widgets().bitBtn1.click();
            window.SetOpenDialog(nullptr);
            window.Widgets().bitBtn2.click();
            for (const std::string& line : main.Form().Messages()) std::printf("%s\n", line.c_str());
            std::printf("finished\n");
            std::fflush(stdout);
        });
    };
    return RunDesktopProgram(machine->Ui(), machine->DriveTransport(), clock, system, options);
}
