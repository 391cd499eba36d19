#pragma once
// The application object of the desktop programs. An exception that escapes
// an event handler is shown like the toolkit's exception display and the
// event loop goes on.
#include <QApplication>
#include <QCommandLineParser>
#include <exception>

namespace keluflash {

// A message box with the application title as caption, a stop icon, an OK
// button and the exception's message.
void ShowException(const std::exception& error);

// --help and --version need no display: when argv asks for either, `parser`
// (with the program's options, help and version) answers on a core
// application, and the program ends there. Otherwise returns.
void AnswerHelpWithoutDisplay(int argc, char** argv, QCommandLineParser& parser);

class KeluApplication final : public QApplication {
public:
    KeluApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace keluflash
