#include "app/qt/qt_user_interface.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include "app/qt/form1_window.h"

namespace keluflash {

void QtUserInterface::PumpMessage() {
    // Qt cannot take exactly one message off the queue; what is pending now
    // is the nearest equivalent.
    QCoreApplication::processEvents();
}

void QtUserInterface::ProcessMessages() {
    QCoreApplication::processEvents();
}

namespace {

QMessageBox::Icon IconOf(unsigned flags) {
    switch (flags & 0xF0u) {
        case 0x10: return QMessageBox::Critical;
        case 0x20: return QMessageBox::Question;
        case 0x30: return QMessageBox::Warning;
        case 0x40: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

// The program's main window, when it is on screen.
QWidget* MainWindowWidget() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (dynamic_cast<Form1Window*>(widget) != nullptr && widget->isVisible()) return widget;
    }
    return nullptr;
}

}  // namespace

int QtUserInterface::ShowMessage(const std::string& text, const std::string& caption, unsigned flags) {
    QMessageBox box(IconOf(flags), QString::fromLocal8Bit(caption), QString::fromLocal8Bit(text),
                    QMessageBox::NoButton, MainWindowWidget());
    box.setTextFormat(Qt::PlainText);
    if (flags & kMbSystemModal) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    box.setWindowModality(Qt::ApplicationModal);
    if ((flags & 0xFu) == kMbYesNo) {
        // Escape and closing the box answer No, as on Windows.
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        QPushButton* no = box.addButton(QMessageBox::No);
        box.setEscapeButton(no);
        box.setDefaultButton((flags & kMbDefButton2) ? no : yes);
        box.exec();
        return box.clickedButton() == yes ? kIdYes : kIdNo;
    }
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    QPushButton* cancel = nullptr;
    if ((flags & 0xFu) == kMbOkCancel) {
        cancel = box.addButton(QMessageBox::Cancel);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.setDefaultButton(ok);
    box.exec();
    return box.clickedButton() == ok ? kIdOk : kIdCancel;
}

}  // namespace keluflash
