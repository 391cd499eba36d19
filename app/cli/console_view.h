#pragma once
// The main window as keluflash-cli shows it. The message lines go one per
// line to standard output, exactly as the window lists them. The rest is the
// command line's own: when standard error is a terminal, one line per step of
// the update on it (checks, patch area, download with its method,
// programming, verification), each with a bar that only moves forward and
// fits the terminal's width; the switch to method B announced; a summary at
// the end (see flash_commands.cpp). A step's line is finished before the
// message lines said during the step are printed, so each result follows
// its step. The restart and downgrade questions are not asked: the command
// line has already answered them (--reboot, the prompt or --allow-downgrade).
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/terminal_line.h"
#include "app/form1.h"

namespace keluflash::cli {

class ConsoleView final : public View, public CommandObserver {
public:
    // `ui` answers the transport's boxes; `drawProgress`: standard error
    // (`err`) is a terminal; `collect`: keep the lines for a JSON answer
    // instead of printing them (and draw nothing).
    ConsoleView(std::ostream& out, ErrorLine& err, UserInterface& ui, bool drawProgress, bool collect);
    void SetForm(const TForm1& form) { m_form = &form; }
    // The programming step's bar follows this clock (the longest wait).
    void SetClock(Clock& clock) { m_clock = &clock; }
    // What the OK/Cancel question ("Reboot this computer right now ?") gets.
    void SetQuestionAnswer(int answer) { m_questionAnswer = answer; }
    // What the Yes/No question before a downgrade (or a revision that cannot
    // be ordered against the drive's) gets: the command line has
    // answered it already (the prompt, or --allow-downgrade).
    void SetDowngradeAnswer(int answer) { m_downgradeAnswer = answer; }
    const std::vector<std::string>& Lines() const { return m_lines; }
    // From here message lines are counted, neither shown nor kept: a replay
    // stopped, and they answer commands that were never sent.
    void EndLines() { m_linesEnded = true; }
    size_t LinesLeftOut() const { return m_linesLeftOut; }

    void PumpMessage() override { m_ui.PumpMessage(); }
    void ProcessMessages() override;
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override;

    void ControlsChanged() override {}
    void MessageAdded(const std::string& line) override;
    void ProgressChanged() override {}
    void Edit1Changed() override {}
    void CaptionChanged() override {}
    bool ExecuteOpenDialog(std::string&) override { return false; }
    void CloseWindow() override {}
    void PhaseStarted(FlashPhase phase) override;

    // Every drive command: the bars of the download and the read-back count
    // its bytes.
    void CommandExecuted(const CommandRecord& record) override;

    // dump: one step of its own, reading `banks` banks.
    void StartReadBack(int banks);
    // Ends the open step's line: "done", or "failed" where the run stopped.
    void FinishSteps(bool succeeded);
    // A line of the command line's own on standard error, between the steps
    // (nothing with `collect`).
    void Note(const std::string& line);

private:
    enum class Step { None, Phase, ReadBack };
    void Begin(const std::string& label, uint64_t expectedBytes);
    void Advance(int percent);
    void Draw();
    std::string StepLine(size_t columns, const std::string& ending) const;
    void PrintHeldLines();
    uint64_t ExpectedDownloadBytes(bool methodB) const;

    std::ostream& m_out;
    ErrorLine& m_err;
    UserInterface& m_ui;
    bool m_drawProgress;
    bool m_collect;
    std::optional<TerminalWidth> m_width;  // while drawing
    const TForm1* m_form = nullptr;
    Clock* m_clock = nullptr;
    int m_questionAnswer = kIdCancel;
    int m_downgradeAnswer = kIdNo;
    std::vector<std::string> m_lines;
    std::vector<std::string> m_held;  // message lines said while the open step's line is drawn
    bool m_linesEnded = false;
    size_t m_linesLeftOut = 0;

    std::optional<FlashPhase> m_phase;
    bool m_methodA = false;
    bool m_methodB = false;

    Step m_step = Step::None;
    std::string m_label;
    uint64_t m_expected = 0;     // bytes the step moves; 0: no count
    uint64_t m_moved = 0;
    uint32_t m_startedMs = 0;    // the programming step's start
    int m_percent = 0;
};

}  // namespace keluflash::cli
