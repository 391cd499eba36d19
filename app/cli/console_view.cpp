#include "app/cli/console_view.h"

#include "app/cli/text_escape.h"

#include <algorithm>
#include <ostream>
#include <string_view>

#include "flash/download.h"
#include "flash/read_back.h"

namespace keluflash::cli {
namespace {

constexpr unsigned kButtonMask = 0xF;
constexpr int kBarWidth = 30;
constexpr int kMinBarWidth = 5;  // narrower, the percentage alone says more
constexpr size_t kLabelWidth = 24;
// What follows the label: the bar's brackets, the longest percentage and
// ending. Kept free from the start, so the bar does not shrink as it ends.
constexpr size_t kTailWidth = std::string_view("[] 100% failed").size();

const char* PhaseLabel(FlashPhase phase) {
    switch (phase) {
    case FlashPhase::Checks: return "checks";
    case FlashPhase::PatchArea: return "patch area";
    case FlashPhase::DownloadMethodA: return "download (method A)";
    case FlashPhase::DownloadMethodB: return "download (method B)";
    case FlashPhase::Programming: return "programming";
    case FlashPhase::Verification: return "verification";
    }
    return "";
}

uint64_t BankBytes(int banks) {
    uint64_t bytes = 0;
    for (int bank = 0; bank < banks; ++bank) bytes += (bank == 1 || bank == 2) ? kShortBankEnd : kBankSize;
    return bytes;
}

}  // namespace

ConsoleView::ConsoleView(std::ostream& out, ErrorLine& err, UserInterface& ui, bool drawProgress, bool collect)
    : m_out(out), m_err(err), m_ui(ui), m_drawProgress(drawProgress && !collect), m_collect(collect) {
    if (m_drawProgress) m_width.emplace();
}

int ConsoleView::ShowMessage(const std::string& text, const std::string& caption, unsigned flags) {
    if ((flags & kButtonMask) == kMbYesNo) {
        if (!m_collect) {
            std::string question = text;
            std::replace(question.begin(), question.end(), '\n', ' ');
            PrintHeldLines();  // what led to the question comes before it
            m_err.Say(caption + ": " + PrintableText(question) + " " +
                      (m_downgradeAnswer == kIdYes ? "Yes" : "No (pass --allow-downgrade to flash it)") + "\n");
            Draw();
        }
        return m_downgradeAnswer;
    }
    if ((flags & kButtonMask) != kMbOkCancel) {
        PrintHeldLines();
        m_err.Clear();
        const int answer = m_ui.ShowMessage(text, caption, flags);
        Draw();
        return answer;
    }
    if (!m_collect) {
        PrintHeldLines();
        m_err.Say(caption + ": " + PrintableLines(text) + " " +
                  (m_questionAnswer == kIdOk ? "OK (--reboot)" : "Cancel (restart it yourself, or pass --reboot)") +
                  "\n");
        Draw();
    }
    return m_questionAnswer;
}

void ConsoleView::MessageAdded(const std::string& line) {
    if (m_linesEnded) {
        ++m_linesLeftOut;
        return;
    }
    m_lines.push_back(line);
    if (m_collect) return;
    // Said during a step whose line is drawn: printed once the line is
    // finished, so that a step's result follows it.
    if (m_drawProgress && m_step != Step::None) {
        m_held.push_back(line);
        return;
    }
    // Lines may carry a file's name or a drive's texts: never raw to a terminal.
    m_out << PrintableText(line) << "\n";
    m_out.flush();
}

void ConsoleView::PrintHeldLines() {
    if (m_held.empty()) return;
    // A step whose work is all done (the read-back before the restart
    // question) is finished first; any other is drawn again below the lines.
    if (m_step != Step::None && m_percent == 100) return FinishSteps(true);
    m_err.Clear();
    for (const std::string& line : m_held) m_out << PrintableText(line) << "\n";
    m_out.flush();
    m_held.clear();
}

void ConsoleView::Note(const std::string& line) {
    if (m_collect) return;
    PrintHeldLines();
    m_err.Say(PrintableLines(line) + "\n");
    Draw();
}

void ConsoleView::ProcessMessages() {
    m_ui.ProcessMessages();
    // A resized terminal gets the line at its new width at once, also while
    // the bar waits for the drive.
    if (m_width && m_width->Resized()) Draw();
    if (m_step == Step::Phase && m_phase == FlashPhase::Programming && m_clock != nullptr) {
        const uint32_t elapsed = m_clock->TickCount() - m_startedMs;
        Advance(static_cast<int>(std::min<uint64_t>(99, elapsed / (kReadyWaitSeconds * 10))));
    }
}

void ConsoleView::PhaseStarted(FlashPhase phase) {
    if (m_phase == phase) return;  // Start and the update both announce the checks
    const bool fallback = phase == FlashPhase::DownloadMethodB && m_methodA;
    if (m_step != Step::None) FinishSteps(!fallback);
    if (fallback) Note("method A (vendor block writes) failed; falling back to method B (WRITE BUFFER)");
    m_phase = phase;
    if (phase == FlashPhase::DownloadMethodA) m_methodA = true;
    if (phase == FlashPhase::DownloadMethodB) m_methodB = true;
    uint64_t expected = 0;
    if (phase == FlashPhase::DownloadMethodA || phase == FlashPhase::DownloadMethodB)
        expected = ExpectedDownloadBytes(phase == FlashPhase::DownloadMethodB);
    if (phase == FlashPhase::Verification && m_form != nullptr) expected = BankBytes(m_form->Header().BlockCount());
    m_startedMs = m_clock != nullptr ? m_clock->TickCount() : 0;
    m_step = Step::Phase;
    Begin(PhaseLabel(phase), expected);
}

void ConsoleView::StartReadBack(int banks) {
    if (m_step != Step::None) FinishSteps(true);
    m_step = Step::ReadBack;
    Begin("reading the flash", BankBytes(banks));
}

uint64_t ConsoleView::ExpectedDownloadBytes(bool methodB) const {
    if (m_form == nullptr) return 0;
    const ImageHeader& header = m_form->Header();
    uint64_t bytes = 0;
    for (int i = 0; i < header.BlockCount() && i < header.MaxBlockCount(); ++i)
        bytes += methodB ? uint64_t{header.BlockSize(i)} + 2 : MethodATransferLength(i);
    return bytes;
}

void ConsoleView::CommandExecuted(const CommandRecord& record) {
    if (m_step == Step::None) return;
    const bool counted = m_step == Step::ReadBack || m_phase == FlashPhase::Verification
                             ? record.direction == kDirectionIn
                             : (m_phase == FlashPhase::DownloadMethodA || m_phase == FlashPhase::DownloadMethodB) &&
                                   record.direction == kDirectionOut;
    if (counted && m_expected > 0) {
        m_moved += record.length;
        Advance(static_cast<int>(std::min<uint64_t>(100, m_moved * 100 / m_expected)));
    } else if (m_phase == FlashPhase::Programming) {
        ProcessMessages();  // each TEST UNIT READY of the wait moves the bar by the clock
    }
}

void ConsoleView::Begin(const std::string& label, uint64_t expectedBytes) {
    m_label = label;
    m_expected = expectedBytes;
    m_moved = 0;
    m_percent = 0;
    Draw();
}

void ConsoleView::Advance(int percent) {
    if (percent <= m_percent) return;  // the bar never moves back
    m_percent = percent;
    Draw();
}

void ConsoleView::FinishSteps(bool succeeded) {
    if (m_step == Step::None) return;
    if (succeeded) m_percent = 100;
    if (m_drawProgress) {
        m_width->Resized();
        const size_t columns = static_cast<size_t>(m_width->Columns());
        m_err.Finish(StepLine(columns, succeeded ? " done" : " failed"), columns);
    }
    m_step = Step::None;
    PrintHeldLines();
}

void ConsoleView::Draw() {
    if (!m_drawProgress || m_step == Step::None) return;
    m_width->Resized();
    const size_t columns = static_cast<size_t>(m_width->Columns());
    m_err.Draw(StepLine(columns, ""), columns);
}

// "label   [#####     ] 42%", as wide as the terminal allows: the last
// column stays free, since a character there wraps the line on some
// terminals and every redraw would then add one.
std::string ConsoleView::StepLine(size_t columns, const std::string& ending) const {
    const size_t room = columns > 1 ? columns - 1 : 0;
    const std::string percent = std::to_string(m_percent) + "%";
    size_t labelWidth = std::max(kLabelWidth, m_label.size() + 1);
    if (labelWidth + kTailWidth + kMinBarWidth > room) labelWidth = m_label.size() + 1;
    const int barWidth = std::min(kBarWidth, static_cast<int>(room) - static_cast<int>(labelWidth + kTailWidth));
    std::string line;
    if (barWidth >= kMinBarWidth) {
        const int filled = m_percent * barWidth / 100;
        line = m_label + std::string(labelWidth - m_label.size(), ' ') + "[" +
               std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(barWidth - filled), ' ') +
               "] " + percent;
        return line + ending;
    }
    // Too narrow for a bar: the name, shortened if need be, and the percentage.
    const std::string tail = " " + percent + ending;
    line = m_label.substr(0, room > tail.size() ? room - tail.size() : 0) + tail;
    if (line.size() > room) line.resize(room);
    return line;
}

}  // namespace keluflash::cli
