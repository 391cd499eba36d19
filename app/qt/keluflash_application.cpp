#include "app/qt/keluflash_application.h"

#include <QMessageBox>

namespace keluflash {

void ShowException(const std::exception& error) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), QString::fromLocal8Bit(error.what()),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void AnswerHelpWithoutDisplay(int argc, char** argv, QCommandLineParser& parser) {
    bool asked = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray word(argv[i]);
        asked = asked || word == "--help" || word == "-h" || word == "-?" || word == "--help-all" ||
                word == "--version" || word == "-v";
    }
    if (!asked) return;
    int count = argc;
    QCoreApplication core(count, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(KELUFLASH_VERSION));
    parser.process(core);  // prints and exits
}

KeluApplication::KeluApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationVersion(QStringLiteral(KELUFLASH_VERSION));
}

bool KeluApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
        return false;
    }
}

}  // namespace keluflash
