#include "app/cli/console_view.h"

#include "app/cli/text_escape.h"

#include <algorithm>
#include <ostream>

#include "flash/download.h"
#include "flash/read_back.h"

namespace keluflash::cli {
namespace {

constexpr unsigned kButtonMask = 0xF;
constexpr int kBarWidth = 30;
constexpr size_t kLabelWidth = 24;

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

ConsoleView::ConsoleView(std::ostream& out, std::ostream& err, UserInterface& ui, bool drawProgress, bool collect)
    : m_out(out), m_err(err), m_ui(ui), m_drawProgress(drawProgress && !collect), m_collect(collect) {}

int ConsoleView::ShowMessage(const std::string& text, const std::string& caption, unsigned flags) {
    if ((flags & kButtonMask) == kMbYesNo) {
        ++m_questions;
        if (!m_collect) {
            std::string question = text;
            std::replace(question.begin(), question.end(), '\n', ' ');
            Clear();
            m_err << caption + ": " + PrintableText(question) + " " +
                         (m_downgradeAnswer == kIdYes ? "Yes" : "No (pass --allow-downgrade to flash it)") + "\n";
            m_err.flush();
            Draw();
        }
        return m_downgradeAnswer;
    }
    if ((flags & kButtonMask) != kMbOkCancel) {
        Clear();
        const int answer = m_ui.ShowMessage(text, caption, flags);
        Draw();
        return answer;
    }
    ++m_questions;
    if (!m_collect) {
        Clear();
        // One write: a line that other output cannot split.
        m_err << caption + ": " + PrintableLines(text) + " " +
                     (m_questionAnswer == kIdOk ? "OK (--reboot)" : "Cancel (restart it yourself, or pass --reboot)") +
                     "\n";
        m_err.flush();
        Draw();
    }
    return m_questionAnswer;
}

void ConsoleView::MessageAdded(const std::string& line) {
    m_lines.push_back(line);
    if (m_collect) return;
    Clear();
    // Lines may carry a file's name or a drive's texts: never raw to a terminal.
    m_out << PrintableText(line) << "\n";
    m_out.flush();
    Draw();
}

void ConsoleView::Note(const std::string& line) {
    if (m_collect) return;
    Clear();
    m_err << PrintableLines(line) + "\n";
    m_err.flush();
    Draw();
}

void ConsoleView::ProcessMessages() {
    m_ui.ProcessMessages();
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
    Draw();
    if (m_drawProgress) {
        m_err << std::string(succeeded ? " done" : " failed") + "\n";
        m_err.flush();
    }
    m_lineOpen = false;
    m_step = Step::None;
}

void ConsoleView::Draw() {
    if (!m_drawProgress || m_step == Step::None) return;
    const int filled = m_percent * kBarWidth / 100;
    std::string line = "\r" + m_label + std::string(m_label.size() < kLabelWidth ? kLabelWidth - m_label.size() : 1, ' ');
    line += "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kBarWidth - filled), ' ') +
            "] " + std::to_string(m_percent) + "%";
    m_err << line;
    m_err.flush();
    m_lineOpen = true;
}

void ConsoleView::Clear() {
    if (!m_lineOpen) return;
    m_err << "\r" + std::string(kLabelWidth + kBarWidth + 16, ' ') + "\r";
    m_err.flush();
    m_lineOpen = false;
}

}  // namespace keluflash::cli
