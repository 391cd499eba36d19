// The Linux main window over simulated drives: its layout, and that it shows
// TForm1's state at every moment of an update driven by clicks.
#include <QFileDialog>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>
#include <vector>

#include "app/qt/desktop_program.h"
#include "app/qt/qt_user_interface.h"
#include "app/recording_system_services.h"
#include "drive/sim/simulated_windows_machine.h"
#include "image/image_writer.h"

using namespace keluflash;

namespace {

// Answers message boxes itself and lets a test act each time the update
// processes pending messages (the ready wait and the read-back).
class ScriptedUserInterface final : public QtUserInterface {
public:
    void ProcessMessages() override {
        QtUserInterface::ProcessMessages();
        if (whilePumping) {
            whilePumping();
        }
    }
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override {
        boxes.push_back(caption + "|" + text + "|" + std::to_string(flags));
        return answer;
    }

    std::function<void()> whilePumping;
    std::vector<std::string> boxes;
    int answer = kIdCancel;
};

// The window as start-up builds it, over a simulated machine.
struct Fixture {
    explicit Fixture(SimulatedMachineConfig config = {})
        : machine(std::move(config), ui), atapi(machine.DriveTransport(), machine.Ui()), main(atapi, machine.Clock(), system, ui) {
        main.Window().show();
    }
    Form1Window& Window() { return main.Window(); }
    Form1Widgets& W() { return main.Window().Widgets(); }
    TForm1& Form() { return main.Form(); }

    ScriptedUserInterface ui;
    SimulatedWindowsMachine machine;
    TAtapi atapi;
    RecordingSystemServices system;
    MainWindow main;
};

// The enabled states a person sees.
struct Enabled {
    bool selDevice, open, start, exit;
    bool operator==(const Enabled&) const = default;
};
char* toString(const Enabled& e) {  // what QCOMPARE prints
    return qstrdup(qPrintable(QStringLiteral("list %1, open %2, start %3, exit %4")
                                  .arg(e.selDevice).arg(e.open).arg(e.start).arg(e.exit)));
}
Enabled EnabledOf(Form1Widgets& w) {
    return {w.selDevice.isEnabled(), w.bitBtn1.isEnabled(), w.bitBtn2.isEnabled(), w.bitBtn3.isEnabled()};
}

QStringList ListLines(Form1Widgets& w) {
    QStringList lines;
    for (int i = 0; i < w.listBox1.count(); ++i) lines << w.listBox1.item(i)->text();
    return lines;
}

QStringList FormLines(TForm1& form) {
    QStringList lines;
    for (const std::string& line : form.Messages()) lines << QString::fromStdString(line);
    return lines;
}

// Counts the paint events a widget receives.
class PaintCounter final : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count;
        return false;
    }
    int count = 0;
};

// Calls `act` once a visible top-level widget of type T shows up.
template <typename T>
void WhenShown(std::function<void(T&)> act, int triesLeft = 250) {
    QTimer::singleShot(20, [act = std::move(act), triesLeft]() mutable {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<T*>(widget); found && found->isVisible()) {
                act(*found);
                return;
            }
        }
        if (triesLeft > 0) WhenShown<T>(std::move(act), triesLeft - 1);
    });
}

}  // namespace

class Form1WindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_image;  // a demo firmware for the default simulated drive
    std::unique_ptr<Fixture> m_layout;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const ImageWriteResult image = BuildDemoFirmware(DemoFirmwareRecipe{});
        QVERIFY2(image.ok, image.error.c_str());
        m_image = m_dir.filePath(QStringLiteral("demo.kfs"));
        std::string error;
        QVERIFY2(SaveImageFile(m_image.toStdString(), image.bytes, error), error.c_str());
        m_layout = std::make_unique<Fixture>();
        QVERIFY(QTest::qWaitForWindowExposed(&m_layout->Window()));
    }
    void cleanupTestCase() { m_layout.reset(); }

    void controlGeometryAndCaption_data() {
        QTest::addColumn<QWidget*>("control");
        QTest::addColumn<QWidget*>("parent");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        Form1Window& window = m_layout->Window();
        Form1Widgets& w = m_layout->W();
        const QString none;
        QTest::newRow("GroupBox1") << (QWidget*)&w.groupBox1 << (QWidget*)&window << QRect(4, -1, 261, 65) << "Select Source : ";
        QTest::newRow("SelDevice") << (QWidget*)&w.selDevice << (QWidget*)&w.groupBox1 << QRect(30, 25, 201, 21) << none;
        QTest::newRow("GroupBox2") << (QWidget*)&w.groupBox2 << (QWidget*)&window << QRect(4, 71, 261, 81) << "Select File : ";
        QTest::newRow("Edit1") << (QWidget*)&w.edit1 << (QWidget*)&w.groupBox2 << QRect(31, 16, 201, 21) << none;
        QTest::newRow("BitBtn1") << (QWidget*)&w.bitBtn1 << (QWidget*)&w.groupBox2 << QRect(86, 48, 75, 25) << "&Open";
        QTest::newRow("BitBtn2") << (QWidget*)&w.bitBtn2 << (QWidget*)&window << QRect(33, 160, 75, 25) << "&Start";
        QTest::newRow("BitBtn3") << (QWidget*)&w.bitBtn3 << (QWidget*)&window << QRect(161, 160, 75, 25) << "&Exit";
        QTest::newRow("ListBox1") << (QWidget*)&w.listBox1 << (QWidget*)&window << QRect(0, 190, 267, 83) << none;
        QTest::newRow("StatusBar1") << (QWidget*)&w.statusBar1 << (QWidget*)&window << QRect(0, 273, 267, 19) << none;
        QTest::newRow("ProgressBar1") << (QWidget*)&w.progressBar1 << (QWidget*)&w.statusBar1 << QRect(169, 2, 97, 17) << none;
    }
    void controlGeometryAndCaption() {
        QFETCH(QWidget*, control);
        QFETCH(QWidget*, parent);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        QCOMPARE(control->parentWidget(), parent);
        QCOMPARE(control->geometry(), geometry);
        QVERIFY(control->isVisible());
        if (auto* box = qobject_cast<QGroupBox*>(control)) QCOMPARE(box->title(), caption);
        if (auto* button = qobject_cast<QPushButton*>(control)) QCOMPARE(button->text(), caption);
        if (auto* edit = qobject_cast<QLineEdit*>(control)) QCOMPARE(edit->text(), caption);
    }

    void windowProperties() {
        Form1Window& window = m_layout->Window();
        Form1Widgets& w = m_layout->W();
        QCOMPARE(window.windowTitle(), QStringLiteral("KELU Flash V1.0B6 Trial 0.4"));
        QCOMPARE(window.size(), QSize(267, 292));
        QCOMPARE(window.minimumSize(), window.maximumSize());  // fixed size
        QCOMPARE(window.frameGeometry().topLeft(), QPoint(400, 166));
        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(flags & Qt::WindowSystemMenuHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QCOMPARE(window.backgroundRole(), QPalette::Button);
        QCOMPARE(window.font().pixelSize(), 11);
        QVERIFY(!window.font().bold() && !window.font().italic());
        for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
            QVERIFY2(window.windowIcon().availableSizes().contains(QSize(side, side)), qPrintable(QString::number(side)));
        }

        QVERIFY(!w.selDevice.isEditable());
        QVERIFY(w.edit1.isReadOnly());
        QCOMPARE(w.progressBar1.minimum(), 0);
        QCOMPARE(w.progressBar1.maximum(), 100);
        QVERIFY(!w.progressBar1.isTextVisible());
        QVERIFY(!w.statusBar1.isSizeGripEnabled());
        // Panel 0 reaches to the right end, under the progress bar.
        QVERIFY(w.statusPanel0.geometry().right() >= w.progressBar1.geometry().right() - 2);
        QVERIFY(w.statusPanel0.geometry().left() <= 4);
        QVERIFY(w.statusPanel0.isVisible());
        QVERIFY(w.progressBar1.isVisible());
        QCOMPARE(w.selDevice.view()->sizeHintForRow(0), 13);
    }

    void buttonPicturesAndAccelerators() {
        Form1Widgets& w = m_layout->W();
        for (QPushButton* button : {&w.bitBtn1, &w.bitBtn2, &w.bitBtn3}) {
            const QImage normal = button->icon().pixmap(16, QIcon::Normal).toImage();
            const QImage greyed = button->icon().pixmap(16, QIcon::Disabled).toImage();
            QCOMPARE(normal.size(), QSize(16, 16));
            QCOMPARE(greyed.size(), QSize(16, 16));
            QVERIFY2(normal != greyed, qPrintable(button->text()));
            QCOMPARE(normal.pixelColor(0, 15).alpha(), 0);  // the bottom-left colour is transparent
            QCOMPARE(button->iconSize(), QSize(16, 16));
        }
        QCOMPARE(w.bitBtn1.shortcut(), QKeySequence(QStringLiteral("Alt+O")));
        QCOMPARE(w.bitBtn2.shortcut(), QKeySequence(QStringLiteral("Alt+S")));
        QCOMPARE(w.bitBtn3.shortcut(), QKeySequence(QStringLiteral("Alt+E")));

        // Alt+O runs Open.
        Fixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.Window()));
        int asked = 0;
        f.Window().SetOpenDialog([&asked](std::string&) { ++asked; return false; });
        QTest::keyClick(f.Window().windowHandle(), Qt::Key_O, Qt::AltModifier);  // through the shortcut map
        QTRY_COMPARE(asked, 1);  // the button animates its click first
    }

    void tabOrder() {
        Form1Widgets& w = m_layout->W();
        const QList<QWidget*> expected = {&w.selDevice, &w.edit1, &w.bitBtn1, &w.listBox1, &w.bitBtn2, &w.bitBtn3};
        QList<QWidget*> seen;
        QWidget* next = &w.selDevice;
        do {
            if (expected.contains(next)) seen << next;
            next = next->nextInFocusChain();
        } while (next != &w.selDevice && seen.size() < expected.size());
        QCOMPARE(seen, expected);
        for (QWidget* control : {&w.groupBox1, &w.groupBox2}) QCOMPARE(control->focusPolicy(), Qt::NoFocus);
    }

    void openDialogOffersTheFilterAndOpensTheChosenFile() {
        QCOMPARE(QtFileFilter(QString::fromLatin1(kOpenDialogFilter)), QStringLiteral("KFS file(*.kfs);;All File (*.*)"));
        QCOMPARE(QtFileFilter(QStringLiteral("Pictures|*.bmp;*.png")), QStringLiteral("Pictures (*.bmp *.png)"));

        Fixture f;
        QStringList filters;
        QString title;
        const QString image = m_image;
        WhenShown<QFileDialog>([&](QFileDialog& dialog) {
            filters = dialog.nameFilters();
            title = dialog.windowTitle();
            // Typed into the name field, as a person would; the dialog's
            // directory listing loads in the background meanwhile.
            auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (name) name->setText(image);
            // A dialog that refuses the name fails the test instead of hanging it.
            QTimer::singleShot(3000, &dialog, [&dialog] { dialog.reject(); });
            static_cast<QDialog&>(dialog).accept();  // public there
        });
        QTest::mouseClick(&f.W().bitBtn1, Qt::LeftButton);
        QCOMPARE(filters, QStringList({QStringLiteral("KFS file(*.kfs)"), QStringLiteral("All File (*.*)")}));
        QCOMPARE(title, QStringLiteral("Open"));
        QCOMPARE(f.Form().OpenDialogFileName(), image.toStdString());
        QVERIFY(!f.Form().Edit1Text().empty());
        QCOMPARE(f.W().edit1.text().toStdString(), f.Form().Edit1Text());
    }

    void messageListShowsEveryLineAtOnceNewestSelected() {
        Fixture f;
        QVERIFY(QTest::qWaitForWindowExposed(&f.Window()));
        PaintCounter paints;
        f.W().listBox1.viewport()->installEventFilter(&paints);
        const QStringList lines = {QStringLiteral("first"), QString(), QStringLiteral("third")};
        for (int i = 0; i < lines.size(); ++i) {
            const int before = paints.count;
            f.Form().AddMessage(lines[i].toStdString());
            // Painted before the call returns: nothing pumps the queue here.
            QVERIFY(paints.count > before);
            QCOMPARE(f.W().listBox1.count(), i + 1);
            QCOMPARE(f.W().listBox1.currentRow(), i);
            QVERIFY(f.W().listBox1.item(i)->isSelected());
        }
        QCOMPARE(ListLines(f.W()), lines);
        QCOMPARE(f.W().listBox1.sizeHintForRow(0), 13);
        // Many more: the newest is scrolled into view, the first is kept.
        for (int i = 0; i < 40; ++i) f.Form().AddMessage("line " + std::to_string(i));
        QCOMPARE(f.W().listBox1.count(), 43);
        QCOMPARE(f.W().listBox1.item(0)->text(), QStringLiteral("first"));
        const QRect newest = f.W().listBox1.visualItemRect(f.W().listBox1.item(42));
        QVERIFY(f.W().listBox1.viewport()->rect().contains(newest));
        QVERIFY(f.W().listBox1.item(42)->isSelected());
    }

    void pickingADriveMovesCommandsAndPanel() {
        SimulatedMachineConfig config;
        config.drives.resize(2);
        config.drives[1].product = "ZXR-0132K";
        Fixture f(config);
        QVERIFY(QTest::qWaitForWindowActive(&f.Window()));
        QCOMPARE(f.W().selDevice.count(), 2);
        QCOMPARE(f.W().selDevice.currentIndex(), 0);
        QCOMPARE(f.W().statusPanel0.text(), f.W().selDevice.itemText(0));
        f.W().selDevice.setFocus();
        QTest::keyClick(&f.W().selDevice, Qt::Key_Down);  // the operator picks item 1
        QCOMPARE(f.W().selDevice.currentIndex(), 1);
        QCOMPARE(f.W().statusPanel0.text(), f.W().selDevice.itemText(1));
        QCOMPARE(f.atapi.SelectedHandle(), f.atapi.Device(1).handle);
    }

    void noDriveLeavesStartDisabled() {
        SimulatedMachineConfig config;
        config.drives.clear();
        Fixture f(config);
        QCOMPARE(f.W().selDevice.count(), 0);
        QCOMPARE(f.W().selDevice.currentIndex(), -1);
        QCOMPARE(f.W().statusPanel0.text(), QString());
        QCOMPARE(EnabledOf(f.W()), (Enabled{true, true, false, true}));
    }

    void enabledStatesThroughAWholeUpdate() {
        Fixture f;
        QVERIFY(QTest::qWaitForWindowExposed(&f.Window()));
        QCOMPARE(EnabledOf(f.W()), (Enabled{true, true, true, true}));

        // Start with no file: a message, and the list stays usable.
        QTest::mouseClick(&f.W().bitBtn2, Qt::LeftButton);
        QCOMPARE(ListLines(f.W()), QStringList{QStringLiteral("Err:No Firmware to upgrade!!")});
        QCOMPARE(EnabledOf(f.W()), (Enabled{true, true, true, true}));

        const std::string image = m_image.toStdString();
        f.Window().SetOpenDialog([image](std::string& name) { name = image; return true; });
        QTest::mouseClick(&f.W().bitBtn1, Qt::LeftButton);
        QCOMPARE(f.W().edit1.text().toStdString(), f.Form().Edit1Text());

        std::vector<Enabled> during;
        int maximum = 0;
        f.ui.whilePumping = [&] {
            during.push_back(EnabledOf(f.W()));
            // The window shows the enabled states TForm1 holds (Open is
            // TForm1's to decide while an update runs).
            const TForm1& form = f.Form();
            QCOMPARE(during.back(), (Enabled{form.SelDeviceEnabled(), form.BitBtn1Enabled(), form.BitBtn2Enabled(),
                                              form.BitBtn3Enabled()}));
            maximum = std::max(maximum, f.W().progressBar1.maximum());
            // What the list shows is what TForm1 holds, at every moment.
            QCOMPARE(ListLines(f.W()), FormLines(f.Form()));
        };
        f.ui.answer = kIdOk;
        QTest::mouseClick(&f.W().bitBtn2, Qt::LeftButton);
        f.ui.whilePumping = nullptr;

        QVERIFY(!during.empty());
        for (const Enabled& e : during) {
            QVERIFY(!e.selDevice && !e.start && !e.exit);
        }
        QCOMPARE(maximum, 65536);  // the read-back's own range
        QCOMPARE(EnabledOf(f.W()), (Enabled{true, true, true, true}));
        const QStringList lines = ListLines(f.W());
        QCOMPARE(lines, FormLines(f.Form()));
        QCOMPARE(lines.first(), QStringLiteral("Err:No Firmware to upgrade!!"));  // never cleared
        QVERIFY(lines.contains(QStringLiteral("Flashing ..")));
        QCOMPARE(lines.last(), QStringLiteral("OK:Verify ok!!"));
        QCOMPARE(f.W().listBox1.currentRow(), lines.size() - 1);
        QCOMPARE(f.ui.boxes, std::vector<std::string>{"Warning|Reboot this computer right now ?|4145"});
        QCOMPARE(f.system.RestartRequests(), 1);  // the recording fake: nothing restarts
        QCOMPARE(f.W().progressBar1.maximum(), f.Form().Progress().max);
        QCOMPARE(f.W().progressBar1.value(), f.Form().Progress().position);
    }

    void closeAndExitDuringAnUpdate() {
        Fixture f;
        QVERIFY(QTest::qWaitForWindowExposed(&f.Window()));
        const std::string image = m_image.toStdString();
        f.Window().SetOpenDialog([image](std::string& name) { name = image; return true; });
        QTest::mouseClick(&f.W().bitBtn1, Qt::LeftButton);

        int pumps = 0;
        bool stayedOnScreen = true;
        f.ui.whilePumping = [&] {
            if (++pumps == 1) {
                QTest::mouseClick(&f.W().bitBtn3, Qt::LeftButton);  // Exit is disabled: nothing
                QVERIFY(f.Window().isVisible());
                f.Window().close();                                  // the title bar's close
            }
            stayedOnScreen = stayedOnScreen && f.Window().isVisible();
        };
        QTest::mouseClick(&f.W().bitBtn2, Qt::LeftButton);
        f.ui.whilePumping = nullptr;

        QVERIFY(pumps > 1);
        QVERIFY(stayedOnScreen);                                   // the update ran to its end ...
        QCOMPARE(ListLines(f.W()).last(), QStringLiteral("OK:Verify ok!!"));
        QCOMPARE(ListLines(f.W()).count(QStringLiteral("The window closes when the update has ended.")), 1);
        QVERIFY(!f.Window().isVisible());                          // ... then the close took effect
    }

    // Lines longer than the list is wide can be scrolled to their end, the
    // newest as much as the first.
    void messageListShowsWholeLongLines() {
        Fixture f;
        QVERIFY(QTest::qWaitForWindowExposed(&f.Window()));
        f.Form().AddMessage("Ok");
        const QString longLine = QStringLiteral(
            "Err:The drive took the firmware and did not answer within 120 s: it may still be programming; "
            "leave it powered.");
        f.Form().AddMessage(longLine.toStdString());
        QListWidget& list = f.W().listBox1;
        QApplication::processEvents();
        const int needed = list.fontMetrics().horizontalAdvance(longLine);
        QVERIFY2(list.horizontalScrollBar()->maximum() + list.viewport()->width() >= needed,
                 qPrintable(QStringLiteral("scrolls %1 + %2 of %3 px")
                                .arg(list.horizontalScrollBar()->maximum())
                                .arg(list.viewport()->width())
                                .arg(needed)));
    }

    // While the bar stands still in the ready wait, the status panel counts
    // the seconds; two pictures of the window at two moments show it.
    void statusPanelCountsTheReadyWait() {
        SimulatedMachineConfig config;
        config.drives[0].programmingMilliseconds = 3500;
        Fixture f(config);
        QVERIFY(QTest::qWaitForWindowExposed(&f.Window()));
        const std::string image = m_image.toStdString();
        f.Window().SetOpenDialog([image](std::string& name) { name = image; return true; });
        QTest::mouseClick(&f.W().bitBtn1, Qt::LeftButton);
        const QString driveLine = f.W().statusPanel0.text();
        QStringList shots;
        f.ui.whilePumping = [&] {
            const QString text = f.W().statusPanel0.text();
            for (const QString& wanted : {QStringLiteral("Waiting for the drive: 1 of 120 s"),
                                          QStringLiteral("Waiting for the drive: 3 of 120 s")}) {
                if (text != wanted || shots.contains(wanted)) continue;
                shots << wanted;
                const QString file = QStringLiteral("ready-wait-%1.png").arg(shots.size());
                QVERIFY(f.Window().grab().save(file));
            }
        };
        QTest::mouseClick(&f.W().bitBtn2, Qt::LeftButton);
        f.ui.whilePumping = nullptr;
        QCOMPARE(shots, (QStringList{QStringLiteral("Waiting for the drive: 1 of 120 s"),
                                     QStringLiteral("Waiting for the drive: 3 of 120 s")}));
        QVERIFY(QImage(QStringLiteral("ready-wait-1.png")) != QImage(QStringLiteral("ready-wait-2.png")));
        QCOMPARE(f.W().statusPanel0.text(), driveLine);  // the drive's line again afterwards
    }

    void exitClosesTheWindow() {
        Fixture f;
        QVERIFY(QTest::qWaitForWindowExposed(&f.Window()));
        QTest::mouseClick(&f.W().bitBtn3, Qt::LeftButton);
        QVERIFY(!f.Window().isVisible());
    }
};

QTEST_MAIN(Form1WindowTest)
#include "form1_window_test.moc"
