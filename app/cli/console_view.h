#pragma once
// The main window as keluflash-cli shows it: the message lines, one per line
// on standard output, and the bar on standard error only when that is a
// terminal. The restart question is not asked: the command line has already
// answered it (--reboot).
#include <iosfwd>
#include <string>
#include <vector>

#include "app/form1.h"

namespace keluflash::cli {

class ConsoleView final : public View {
public:
    // `ui` answers the transport's boxes; `drawProgress`: `err` is a terminal;
    // `collect`: keep the lines for a JSON answer instead of printing them.
    ConsoleView(std::ostream& out, std::ostream& err, UserInterface& ui, bool drawProgress, bool collect);
    void SetForm(const TForm1& form) { m_form = &form; }
    // What the OK/Cancel question ("Reboot this computer right now ?") gets.
    void SetQuestionAnswer(int answer) { m_questionAnswer = answer; }
    const std::vector<std::string>& Lines() const { return m_lines; }
    int QuestionsAsked() const { return m_questions; }

    void PumpMessage() override { m_ui.PumpMessage(); }
    void ProcessMessages() override { m_ui.ProcessMessages(); }
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;

    void ControlsChanged() override {}
    void MessageAdded(const std::string& line) override;
    void ProgressChanged() override;
    void Edit1Changed() override {}
    void CaptionChanged() override {}
    bool ExecuteOpenDialog(std::string&) override { return false; }
    void CloseWindow() override {}

    // Ends a bar that is drawn, so that what follows starts on its own line.
    void FinishProgress();

private:
    std::ostream& m_out;
    std::ostream& m_err;
    UserInterface& m_ui;
    bool m_drawProgress;
    bool m_collect;
    const TForm1* m_form = nullptr;
    int m_questionAnswer = kIdCancel;
    int m_questions = 0;
    std::vector<std::string> m_lines;
    int m_drawnPercent = -1;
};

}  // namespace keluflash::cli
