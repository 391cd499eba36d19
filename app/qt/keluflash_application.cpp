#include "app/qt/keluflash_application.h"

#include <QMessageBox>

namespace keluflash {

void ShowException(const std::exception& error) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), QString::fromLocal8Bit(error.what()),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

KeluApplication::KeluApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KeluApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
        return false;
    }
}

}  // namespace keluflash
