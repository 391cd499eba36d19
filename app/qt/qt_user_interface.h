#pragma once
// The host's user interface on Qt: the thread's event queue and the simple
// message box.
#include "drive/host_ports.h"

namespace keluflash {

class QtUserInterface : public UserInterface {
public:
    void PumpMessage() override;
    void ProcessMessages() override;
    // A box owned by the main window (once it is shown; the boxes of the
    // start-up scan have none) and modal to the application: while it is
    // open no click reaches the window, so no handler can run inside the
    // command that raised it.
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override;
};

}  // namespace keluflash
