#include "app/cli/console_view.h"

#include <ostream>

namespace keluflash::cli {
namespace {

constexpr unsigned kButtonMask = 0xF;
constexpr int kBarWidth = 40;

}  // namespace

ConsoleView::ConsoleView(std::ostream& out, std::ostream& err, UserInterface& ui, bool drawProgress, bool collect)
    : m_out(out), m_err(err), m_ui(ui), m_drawProgress(drawProgress), m_collect(collect) {}

int ConsoleView::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    if ((flags & kButtonMask) != kMbOkCancel) return m_ui.MessageBox(text, caption, flags);
    FinishProgress();
    ++m_questions;
    m_err << caption << ": " << text << " "
          << (m_questionAnswer == kIdOk ? "OK (--reboot)" : "Cancel (restart it yourself, or pass --reboot)") << "\n";
    m_err.flush();
    return m_questionAnswer;
}

void ConsoleView::MessageAdded(const std::string& line) {
    m_lines.push_back(line);
    if (m_collect) return;
    FinishProgress();
    m_out << line << "\n";
    m_out.flush();
}

void ConsoleView::ProgressChanged() {
    if (!m_drawProgress || m_form == nullptr) return;
    const ProgressState& bar = m_form->Progress();
    const long long span = static_cast<long long>(bar.max) - bar.min;
    const int percent =
        span <= 0 ? 0 : static_cast<int>((static_cast<long long>(bar.position) - bar.min) * 100 / span);
    if (percent == m_drawnPercent) return;
    m_drawnPercent = percent;
    const int filled = percent * kBarWidth / 100;
    m_err << "\r[" << std::string(static_cast<size_t>(filled), '#')
          << std::string(static_cast<size_t>(kBarWidth - filled), ' ') << "] " << percent << "%";
    m_err.flush();
}

void ConsoleView::FinishProgress() {
    if (m_drawnPercent < 0) return;
    m_err << "\r" << std::string(kBarWidth + 8, ' ') << "\r";
    m_err.flush();
    m_drawnPercent = -1;
}

}  // namespace keluflash::cli
