#pragma once
// The main window as start-up creates it: the Qt window first, then TForm1
// over it (filling the drive list), then FormCreate (the caption).
#include "app/form1.h"
#include "app/qt/form1_window.h"

namespace keluflash {

class MainWindow {
public:
    MainWindow(TAtapi& atapi, Clock& clock, SystemServices& system, UserInterface& ui);
    Form1Window& Window() { return m_window; }
    TForm1& Form() { return m_form; }

private:
    Form1Window m_window;
    TForm1 m_form;
};

}  // namespace keluflash
