#pragma once
// The Linux main window: a Qt view of TForm1. It draws what TForm1 says has
// changed and passes the operator's actions to TForm1's handlers; every rule
// of the window lives in TForm1.
#include <QString>
#include <QWidget>
#include <functional>
#include <string>

#include "app/form1.h"
#include "app/qt/form1_widgets.h"

namespace keluflash {

class Form1Window final : public QWidget, public View {
public:
    explicit Form1Window(UserInterface& ui);

    // Binds the logic and draws its whole state. TForm1 is built after the
    // window (it needs the view), so notifications before this are dropped.
    void Attach(TForm1& form);

    Form1Widgets& Widgets() { return m_widgets; }

    // The file-open dialog; replaceable so that a scripted run or a test can
    // answer it. The default asks the operator.
    using OpenDialog = std::function<bool(std::string& fileName)>;
    void SetOpenDialog(OpenDialog dialog) { m_openDialog = std::move(dialog); }
    // Where the dialog starts when no file was chosen yet.
    void SetDialogDirectory(const QString& directory) { m_dialogDirectory = directory; }

    // View.
    void ControlsChanged() override;
    void MessageAdded(const std::string& line) override;
    void ProgressChanged() override;
    void Edit1Changed() override;
    void CaptionChanged() override;
    bool ExecuteOpenDialog(std::string& fileName) override;
    void CloseWindow() override;
    void PumpMessage() override;
    void ProcessMessages() override;
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override;

protected:
    // A close while a handler runs (it pumps the queue) is kept until the
    // handler has returned: the operation is never cut short.
    void closeEvent(QCloseEvent* event) override;

private:
    void RunHandler(const std::function<void(TForm1&)>& handler);
    bool AskOperatorForFile(std::string& fileName);

    UserInterface& m_ui;
    Form1Widgets m_widgets;
    TForm1* m_form = nullptr;
    OpenDialog m_openDialog;
    QString m_dialogDirectory;
    int m_handlerDepth = 0;
    bool m_closePending = false;
};

}  // namespace keluflash
