#pragma once
// The main window as start-up creates it: the Qt window first, then TForm1
// over it (filling the drive list), then FormCreate (the caption).
#include "app/form1.h"
#include "app/qt/form1_window.h"
#include "app/qt/qt_user_interface.h"

namespace keluflash {

class MainWindow {
public:
    // The window owns every message box of `ui` from here on.
    MainWindow(TAtapi& atapi, Clock& clock, SystemServices& system, QtUserInterface& ui);
    ~MainWindow();
    Form1Window& Window() { return m_window; }
    TForm1& Form() { return m_form; }

private:
    QtUserInterface& m_ui;
    Form1Window m_window;
    TForm1 m_form;
};

}  // namespace keluflash
