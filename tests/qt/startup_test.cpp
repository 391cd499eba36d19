// Start-up: one instance per session with two real processes, and the
// display of an exception that escapes start-up or an event handler.
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <stdexcept>

#include <signal.h>

#include "app/qt/keluflash_application.h"
#include "app/qt/single_instance_lock.h"

using namespace keluflash;

namespace {

// A probe process with its own runtime directory, so that the test never
// meets a keluflash the person at the machine is running.
class Probe {
public:
    Probe(const QString& runtimeDirectory, const QString& mode) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDirectory);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral(STARTUP_PROBE), {mode});
    }
    ~Probe() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // Reads standard output until a line starts with `prefix`.
    QString WaitForLine(const QString& prefix, int milliseconds = 10000) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < milliseconds) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromLocal8Bit(m_process.readLine()).trimmed();
                m_lines << line;
                if (line.startsWith(prefix)) {
                    return line;
                }
            }
            if (!m_process.waitForReadyRead(100) && m_process.state() == QProcess::NotRunning &&
                !m_process.canReadLine()) {
                break;
            }
        }
        return {};
    }
    bool Finish(int milliseconds = 10000) {
        const bool finished = m_process.waitForFinished(milliseconds);
        while (m_process.canReadLine()) {
            m_lines << QString::fromLocal8Bit(m_process.readLine()).trimmed();
        }
        return finished;
    }
    QStringList Lines() const { return m_lines; }
    QProcess& Process() { return m_process; }

private:
    QProcess m_process;
    QStringList m_lines;
};

bool AnyStartsWith(const QStringList& lines, const QString& prefix) {
    for (const QString& line : lines) {
        if (line.startsWith(prefix)) return true;
    }
    return false;
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void secondInstanceEndsAtOnceAndTheLockDiesWithItsHolder() {
        QTemporaryDir runtime;
        QVERIFY(runtime.isValid());

        Probe first(runtime.path(), QStringLiteral("run"));
        QCOMPARE(first.WaitForLine(QStringLiteral("shown")), QStringLiteral("shown KELU Flash V1.0B6 Trial 0.4"));

        // The second one scans the drives, then ends at once: exit code 0,
        // no window, no message box.
        Probe second(runtime.path(), QStringLiteral("run"));
        QVERIFY(second.Finish(10000));
        QCOMPARE(second.Process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.Process().exitCode(), 0);
        QVERIFY(!AnyStartsWith(second.Lines(), QStringLiteral("shown")));
        QVERIFY(!AnyStartsWith(second.Lines(), QStringLiteral("box")));
        QVERIFY(AnyStartsWith(second.Lines(), QStringLiteral("scanned")));
        QVERIFY(second.Lines().filter(QStringLiteral("scanned 0")).isEmpty());
        // The first one is not disturbed.
        QCOMPARE(first.Process().state(), QProcess::Running);

        // Killed, it leaves nothing behind: the next one starts normally.
        first.Process().kill();
        QVERIFY(first.Finish());
        Probe third(runtime.path(), QStringLiteral("close"));
        QVERIFY(!third.WaitForLine(QStringLiteral("shown")).isEmpty());
        QVERIFY(third.Finish());
        QCOMPARE(third.Process().exitCode(), 0);

        // Ended by closing its window, likewise.
        Probe fourth(runtime.path(), QStringLiteral("close"));
        QVERIFY(!fourth.WaitForLine(QStringLiteral("shown")).isEmpty());
        QVERIFY(fourth.Finish());
        QCOMPARE(fourth.Process().exitCode(), 0);
    }

    // keluflash-demo ended by SIGTERM or SIGINT (a `kill`, a ^C in its
    // terminal) leaves no temporary folder behind, and ends by that signal.
    void theDemoEndedBySignalRemovesItsFolder() {
        for (const int signal : {SIGTERM, SIGINT}) {
            QTemporaryDir temporary;
            QVERIFY(temporary.isValid());
            QProcess demo;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("TMPDIR"), temporary.path());
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), temporary.path());
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            demo.setProcessEnvironment(environment);
            demo.start(QStringLiteral(KELUFLASH_DEMO_PROGRAM), {});
            QVERIFY(demo.waitForStarted());
            const QDir folder(temporary.path());
            const QStringList pattern{QStringLiteral("keluflash-demo-*")};
            QTRY_VERIFY_WITH_TIMEOUT(!folder.entryList(pattern, QDir::Dirs).isEmpty(), 10000);
            QTest::qWait(300);  // the window is up and waiting
            QCOMPARE(::kill(static_cast<pid_t>(demo.processId()), signal), 0);
            QVERIFY(demo.waitForFinished(10000));
            QCOMPARE(demo.exitStatus(), QProcess::CrashExit);
            QCOMPARE(demo.exitCode(), signal);
            QCOMPARE(folder.entryList(pattern, QDir::Dirs), QStringList{});
        }
    }

    void lockIsPerRuntimeDirectory() {
        QTemporaryDir one;
        QTemporaryDir two;
        const SingleInstanceLock first((one.path() + QStringLiteral("/MyAPP.lock")).toStdString());
        QVERIFY(!first.AlreadyRunning());
        // Within one process flock locks are per open file, so a second
        // object stands for a second process here.
        const SingleInstanceLock same((one.path() + QStringLiteral("/MyAPP.lock")).toStdString());
        QVERIFY(same.AlreadyRunning());
        const SingleInstanceLock other((two.path() + QStringLiteral("/MyAPP.lock")).toStdString());
        QVERIFY(!other.AlreadyRunning());
        // A lock file that cannot be made lets the program run on.
        const SingleInstanceLock nowhere(std::filesystem::path("/nonexistent-directory/MyAPP.lock"));
        QVERIFY(!nowhere.AlreadyRunning());
    }

    void exceptionInStartupIsShownAndTheProgramEndsWithZero() {
        QTemporaryDir runtime;
        Probe probe(runtime.path(), QStringLiteral("throw"));
        QCOMPARE(probe.WaitForLine(QStringLiteral("box")),
                 QStringLiteral("box KELUFlash|the probe failed on purpose|stop"));
        QVERIFY(probe.Finish());
        QCOMPARE(probe.Process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.Process().exitCode(), 0);
        QVERIFY(!AnyStartsWith(probe.Lines(), QStringLiteral("shown")));
    }

    void exceptionFromAnEventHandlerIsShownAndTheLoopGoesOn() {
        QCoreApplication::setApplicationName(QStringLiteral("KELUFlash"));
        // A handler run by the event loop throws ...
        QTimer::singleShot(0, [] { throw std::runtime_error("Access violation at address 00000000"); });
        // ... and this looks at the box from inside the box's own loop.
        QString seen;
        QTimer::singleShot(10, [&seen] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = box->windowTitle() + QLatin1Char('|') + box->text() + QLatin1Char('|') +
                       (box->icon() == QMessageBox::Critical ? QStringLiteral("stop") : QStringLiteral("other"));
                box->accept();
            }
        });
        bool later = false;
        QTimer::singleShot(50, [&later] { later = true; });
        QTRY_VERIFY(later);
        QCOMPARE(seen, QStringLiteral("KELUFlash|Access violation at address 00000000|stop"));
    }
};

int main(int argc, char** argv) {
    KeluApplication app(argc, argv);
    StartupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "startup_test.moc"
