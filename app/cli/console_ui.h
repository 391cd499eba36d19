#pragma once
// The console as the drive layer's user interface: there is no message queue
// to pump, and a message box is its caption and text on standard error. A
// question (OK/Cancel) is asked only when a person is at the terminal; a
// script gets Cancel.
#include <iosfwd>
#include <string>

#include "drive/host_ports.h"

namespace keluflash::cli {

class ConsoleUi final : public UserInterface {
public:
    // `interactive`: a person reads `out` and answers on `in`.
    ConsoleUi(std::istream& in, std::ostream& out, bool interactive)
        : m_in(in), m_out(out), m_interactive(interactive) {}

    void PumpMessage() override {}
    void ProcessMessages() override {}
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override;

private:
    std::istream& m_in;
    std::ostream& m_out;
    bool m_interactive;
};

// Standard input and standard error are both a terminal: a person can be
// asked (the step lines need only standard error: ErrorIsTerminal).
bool ConsoleIsInteractive();

}  // namespace keluflash::cli
