#pragma once
// The host's user interface on Qt: the thread's event queue and the simple
// message box.
#include "drive/host_ports.h"

namespace keluflash {

class QtUserInterface : public UserInterface {
public:
    void PumpMessage() override;
    void ProcessMessages() override;
    // A box without owner window, as the original's: the main window stays
    // usable behind it while the box runs its own event loop.
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
};

}  // namespace keluflash
