// keluflash-cli flash at a terminal: a real pseudo-terminal is its standard
// input, output and error, as when a person runs it. The steps appear in
// order, each with a bar that never moves back; the system's lines are there
// as they always are; the summary ends it; "n" says nothing was written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "image/image_writer.h"
#include "tests/cli/cli_run.h"

namespace keluflash::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct TerminalRun {
    int exitCode = -1;  // -1: ended by a signal
    int signal = 0;     // the signal that ended it
    std::string screen;  // everything the terminal received
};

struct Terminal {
    unsigned short columns = 80;
    bool inputFromNull = false;  // standard input /dev/null; output and error the terminal
    std::string answer;          // typed at the confirmation question
    std::function<void()> atPrompt;
    // After each read, with what the terminal received so far; may resize
    // the terminal or signal the program.
    std::function<void(const std::string& screen, pid_t child, int terminal)> watch;
};

// Runs the program on a new pseudo-terminal of `terminal.columns` columns
// and types the answer at the confirmation question, after `atPrompt` has run.
TerminalRun RunOnTerminal(const std::vector<std::string>& arguments, const Terminal& terminal) {
    int master = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = terminal.columns;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
        if (terminal.inputFromNull) {
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, STDIN_FILENO);
            ::close(null);
        }
        std::vector<char*> argv{const_cast<char*>(KELUFLASH_CLI_PROGRAM)};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    TerminalRun run;
    bool answered = false;
    for (;;) {
        pollfd readable{master, POLLIN, 0};
        if (::poll(&readable, 1, 30000) <= 0) break;
        char buffer[4096];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0) break;  // EIO once the child has closed the terminal
        run.screen.append(buffer, static_cast<size_t>(got));
        if (terminal.watch) terminal.watch(run.screen, child, master);
        if (!answered && run.screen.find("[y/N] ") != std::string::npos) {
            if (terminal.atPrompt) terminal.atPrompt();
            const std::string typed = terminal.answer + "\n";
            EXPECT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
            answered = true;
        }
    }
    ::close(master);
    int status = 0;
    ::waitpid(child, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return run;
}

TerminalRun RunOnTerminal(const std::vector<std::string>& arguments, const std::string& answer,
                          const std::function<void()>& atPrompt = {}) {
    Terminal terminal;
    terminal.answer = answer;
    terminal.atPrompt = atPrompt;
    return RunOnTerminal(arguments, terminal);
}

// How each step's line begins.
constexpr const char* kStepStarts[] = {"checks", "patch area", "download (m", "programming", "verification"};

// The rows a person sees once the program has ended, on a terminal that is
// `columns` wide from `from` on: "\r" goes back to the row's start, "\n"
// starts the next row, a character past the last column wraps to the next
// row. Trailing blanks are not seen.
class Screen {
public:
    void Feed(const std::string& output, size_t columns) {
        for (const char c : output) {
            if (c == '\r') {
                m_column = 0;
            } else if (c == '\n') {
                m_rows.emplace_back();
                m_column = 0;
            } else {
                if (m_column == columns) {
                    m_rows.emplace_back();
                    m_column = 0;
                }
                std::string& row = m_rows.back();
                if (row.size() <= m_column) row.resize(m_column + 1, ' ');
                row[m_column++] = c;
            }
        }
    }
    // Every row, without the empty one the last line end leaves.
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (const std::string& row : m_rows) rows.push_back(row.substr(0, row.find_last_not_of(' ') + 1));
        if (!rows.empty() && rows.back().empty()) rows.pop_back();
        return rows;
    }

private:
    std::vector<std::string> m_rows{std::string()};
    size_t m_column = 0;
};

// The index of the first row that starts with `text` as far as it fits; -1 when none does.
int RowOf(const std::vector<std::string>& rows, const std::string& text, size_t columns) {
    const std::string start = text.substr(0, columns);
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].rfind(start, 0) == 0) return static_cast<int>(i);
    return -1;
}

// The pieces between carriage returns and line ends, as the terminal shows them one after another.
std::vector<std::string> Pieces(const std::string& screen) {
    std::vector<std::string> pieces;
    std::string piece;
    for (const char c : screen) {
        if (c == '\r' || c == '\n') {
            if (piece.find_first_not_of(' ') != std::string::npos) pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) pieces.push_back(piece);
    return pieces;
}

class FlashTerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::path(testing::TempDir()) /
                ("keluflash-terminal-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
        m_image = (m_dir / "demo.kfs").string();
        ASSERT_EQ(RunCli("--simulate demo-image " + m_image).exitCode, 0);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::filesystem::path m_dir;
    std::string m_image;
};

TEST_F(FlashTerminalTest, StepsInOrderWithBarsThatNeverGoBack) {
    const TerminalRun run = RunOnTerminal({"--simulate=method-b", "flash", m_image}, "y");
    ASSERT_EQ(run.exitCode, 0) << run.screen;

    // Each step's pieces: "label   [###   ] 42%", the last ending " done" or " failed".
    struct Step {
        std::string label;
        int percent = 0;
        std::string ending;
    };
    std::vector<Step> steps;
    std::vector<std::string> others;
    for (const std::string& piece : Pieces(run.screen)) {
        const size_t open = piece.find(" [");
        const size_t close = piece.find("] ");
        const size_t percentSign = piece.find('%', close == std::string::npos ? 0 : close);
        if (open == std::string::npos || close == std::string::npos || percentSign == std::string::npos) {
            others.push_back(piece);
            continue;
        }
        const std::string label = piece.substr(0, piece.find_last_not_of(' ', open) + 1);
        const int percent = std::stoi(piece.substr(close + 2, percentSign - close - 2));
        if (steps.empty() || steps.back().label != label || !steps.back().ending.empty()) steps.push_back(Step{label, 0, {}});
        Step& step = steps.back();
        EXPECT_GE(percent, step.percent) << label << " went back: " << piece;
        step.percent = percent;
        if (piece.size() > percentSign + 1) step.ending = piece.substr(percentSign + 2);
    }
    std::vector<std::string> order;
    for (const Step& step : steps) order.push_back(step.label + ": " + step.ending);
    EXPECT_THAT(order, ElementsAre("checks: done", "patch area: done", "download (method A): done",
                                   "programming: failed", "download (method B): done", "programming: done",
                                   "verification: done"));
    EXPECT_EQ(steps.back().percent, 100);

    // The system's lines, the announcement of method B and the summary, in order.
    std::vector<std::string> lines;
    for (const std::string& piece : others)
        if (piece.rfind("Flash ", 0) != 0) lines.push_back(piece);
    EXPECT_THAT(lines, ElementsAre("keluflash-cli: drive /dev/sg0 (KELU ZXR-0131K 1.00)",
                                   "Revision: drive 1.00, image 1.00 (the same: flashing again only repairs)",
                                   "Flashing ..", "Status:2;SenseCode:5 : 24 : 0;", "Err:Flash Fail.",
                                   "method A (vendor block writes) failed; falling back to method B (WRITE BUFFER)",
                                   "Ok:Flash Complete!!", "OK:Verify ok!!",
                                   "Warning: Reboot this computer right now ? Cancel (restart it yourself, or pass "
                                   "--reboot)",
                                   "flashed with method B (WRITE BUFFER) after method A failed, and verified; the "
                                   "drive starts its new firmware at the next restart"));
}

TEST_F(FlashTerminalTest, AnsweringNoSaysNothingWasWritten) {
    const std::string trace = (m_dir / "trace.jsonl").string();
    const TerminalRun run = RunOnTerminal({"--simulate", "--trace", trace, "flash", m_image}, "n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.screen, HasSubstr("[y/N] n\r\nkeluflash-cli: not confirmed: nothing was written to the drive\r\n"));
    // The scan's INQUIRY and nothing more.
    EXPECT_EQ(ReadFile(trace).find("\"direction\":\"out\""), std::string::npos);
}

// The question names what the flash changes, a downgrade among it; "y"
// agrees to the downgrade as well, and nothing asks again.
TEST_F(FlashTerminalTest, TheQuestionNamesADowngradeAndYesFlashesIt) {
    DemoFirmwareRecipe older;
    older.revision = "0.90";
    const ImageWriteResult built = BuildDemoFirmware(older);
    std::string error;
    ASSERT_TRUE(SaveImageFile(m_image, built.bytes, error)) << error;
    const TerminalRun run = RunOnTerminal({"--simulate", "flash", m_image}, "y");
    EXPECT_EQ(run.exitCode, 0) << run.screen;
    EXPECT_THAT(run.screen, HasSubstr("? Revision: drive 1.00, image 0.90 (older: a downgrade). Downgrade the drive? "
                                      "[y/N] y\r\n"));
    EXPECT_THAT(run.screen, HasSubstr("a downgrade. Flash it anyway ? Yes\r\n"));
    EXPECT_THAT(run.screen, HasSubstr("OK:Verify ok!!"));
}

// A revision that cannot be ordered is named in the question too, and "y"
// agrees to it.
TEST_F(FlashTerminalTest, TheQuestionNamesARevisionThatCannotBeOrdered) {
    DemoFirmwareRecipe suffixed;
    suffixed.revision = "1.0A";
    const ImageWriteResult built = BuildDemoFirmware(suffixed);
    std::string error;
    ASSERT_TRUE(SaveImageFile(m_image, built.bytes, error)) << error;
    const TerminalRun run = RunOnTerminal({"--simulate", "flash", m_image}, "y");
    EXPECT_EQ(run.exitCode, 0) << run.screen;
    EXPECT_THAT(run.screen, HasSubstr("(cannot be ordered: it may be a downgrade). Flash a revision that cannot be "
                                      "ordered against the drive's? [y/N] y\r\n"));
    EXPECT_THAT(run.screen, HasSubstr("it may be a downgrade. Flash it anyway ? Yes\r\n"));
    EXPECT_THAT(run.screen, HasSubstr("OK:Verify ok!!"));
}

// The question is asked about the file as it was read; a file replaced while
// the question waits is not the one the checks passed, and is never flashed.
TEST_F(FlashTerminalTest, AFileReplacedAtThePromptIsRefusedAndNothingIsWritten) {
    // An image for the other drive of a two-drive machine: another model and firmware id.
    const std::string other = (m_dir / "other.kfs").string();
    ASSERT_EQ(RunCli("--simulate=two-drives --device 1 demo-image " + other).exitCode, 0);
    const std::string trace = (m_dir / "trace.jsonl").string();
    const TerminalRun run = RunOnTerminal({"--simulate", "--trace", trace, "flash", m_image}, "y",
                                          [&] { std::filesystem::rename(other, m_image); });
    EXPECT_EQ(run.exitCode, 1) << run.screen;
    EXPECT_THAT(run.screen, HasSubstr("Err:The firmware file changed after it was opened: open it again!!\r\n"));
    EXPECT_THAT(run.screen, ::testing::Not(HasSubstr("Flashing ..")));
    EXPECT_THAT(run.screen, HasSubstr("nothing was written to the drive"));
    EXPECT_EQ(ReadFile(trace).find("\"direction\":\"out\""), std::string::npos);
}

// The rows of the steps: each step's line with its bar, as it was left.
// A row that begins like a step or holds a bar without its percentage is a
// piece of a line that wrapped, and fails the test.
std::vector<int> StepRows(const std::vector<std::string>& rows) {
    std::vector<int> steps;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string& row = rows[i];
        const bool stepLike = row.find('#') != std::string::npos ||
                              std::any_of(std::begin(kStepStarts), std::end(kStepStarts),
                                          [&](const char* start) { return row.rfind(start, 0) == 0; });
        const bool percent = row.find('%') != std::string::npos;
        EXPECT_TRUE(percent || !stepLike) << "a piece of a wrapped step line: " << row;
        if (percent) steps.push_back(static_cast<int>(i));
        // Erasing a line with more blanks than the terminal is wide leaves an empty row.
        EXPECT_FALSE(row.empty()) << "an empty row after row " << i - 1 << ": " << (i > 0 ? rows[i - 1] : "");
    }
    return steps;
}

// However wide the terminal, and when it is resized after the question,
// each step leaves one row that fits it (a line that wraps adds a row at
// every redraw), and the lines said during a step follow the step's row.
TEST_F(FlashTerminalTest, EachStepIsOneRowThatFitsAndItsLinesFollowIt) {
    const struct {
        unsigned short columns;
        unsigned short resizedTo;  // at the question; 0: not resized
    } rows[] = {{50, 0}, {80, 50}, {16, 0}, {40, 120}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.columns) + " columns, then " + std::to_string(row.resizedTo));
        Terminal terminal;
        terminal.columns = row.columns;
        terminal.answer = "y";
        size_t resizedAt = std::string::npos;
        terminal.watch = [&](const std::string& screen, pid_t child, int master) {
            if (row.resizedTo == 0 || resizedAt != std::string::npos || screen.find("[y/N] ") == std::string::npos)
                return;
            winsize size{};
            size.ws_row = 24;
            size.ws_col = row.resizedTo;
            ASSERT_EQ(::ioctl(master, TIOCSWINSZ, &size), 0);
            ::kill(child, SIGWINCH);
            resizedAt = screen.size();
        };
        const TerminalRun run = RunOnTerminal({"--simulate=method-b", "flash", m_image}, terminal);
        ASSERT_EQ(run.exitCode, 0) << run.screen;
        const size_t columns = row.resizedTo == 0 ? row.columns : row.resizedTo;
        Screen screen;
        if (resizedAt != std::string::npos) {
            screen.Feed(run.screen.substr(0, resizedAt), row.columns);
            screen.Feed(run.screen.substr(resizedAt), columns);
        } else {
            screen.Feed(run.screen, columns);
        }
        const std::vector<std::string> shown = screen.Rows();
        std::string all;
        for (const std::string& line : shown) all += line + "\n";
        SCOPED_TRACE(all);

        const std::vector<int> steps = StepRows(shown);
        ASSERT_EQ(steps.size(), 7u);
        // The checks run before the question, on the terminal as it was then.
        const int question = RowOf(shown, "Flash " + m_image, row.columns);
        ASSERT_GT(question, steps[0]);
        ASSERT_LT(question, steps[1]);
        std::vector<std::string> endings;
        for (const int step : steps) {
            EXPECT_LT(shown[step].size(), step < question ? row.columns : columns) << shown[step];
            endings.push_back(shown[step].substr(shown[step].rfind(' ') + 1));
        }
        EXPECT_THAT(endings, ElementsAre("done", "done", "done", "failed", "done", "done", "done"));
        if (columns >= 50) {
            EXPECT_EQ(shown[steps[0]].substr(0, 6), "checks");
            EXPECT_EQ(shown[steps[6]].substr(0, 12), "verification");
            EXPECT_THAT(shown[steps[6]], ::testing::EndsWith("] 100% done"));
        }
        // Each line after the row of the step it was said in, before the next step's.
        const struct {
            const char* line;
            size_t after;  // the step before it
        } lines[] = {{"Flashing ..", 1},
                     {"Status:2;SenseCode:5 : 24 : 0;", 3},
                     {"Err:Flash Fail.", 3},
                     {"method A (vendor block writes) failed; falling back", 3},
                     {"Ok:Flash Complete!!", 5},
                     {"OK:Verify ok!!", 6}};
        for (const auto& line : lines) {
            const int at = RowOf(shown, line.line, columns);
            EXPECT_GT(at, steps[line.after]) << line.line;
            if (line.after + 1 < steps.size()) {
                EXPECT_LT(at, steps[line.after + 1]) << line.line;
            }
        }
    }
}

// No keyboard (standard input /dev/null, --yes), but a person watches
// standard error: the steps are drawn, and nothing is asked.
TEST_F(FlashTerminalTest, StepsAreDrawnWhenOnlyStandardErrorIsATerminal) {
    Terminal terminal;
    terminal.inputFromNull = true;
    const TerminalRun run = RunOnTerminal({"--simulate", "flash", "--yes", m_image}, terminal);
    ASSERT_EQ(run.exitCode, 0) << run.screen;
    EXPECT_THAT(run.screen, ::testing::Not(HasSubstr("[y/N]")));
    Screen screen;
    screen.Feed(run.screen, terminal.columns);
    const std::vector<std::string> shown = screen.Rows();
    std::vector<std::string> labels;
    for (const int step : StepRows(shown)) labels.push_back(shown[step].substr(0, shown[step].find("  ")));
    EXPECT_THAT(labels, ElementsAre("checks", "patch area", "download (method A)", "programming", "verification"))
        << run.screen;
}

// A ^C while the drive is written: its notice starts a row of its own,
// where the bar was, and the bar goes on below it; no half-drawn bar is
// left behind.
TEST_F(FlashTerminalTest, AHeldSignalsNoticeStartsARowOfItsOwn) {
    Terminal terminal;
    terminal.columns = 50;
    terminal.inputFromNull = true;
    bool interrupted = false;
    terminal.watch = [&](const std::string& screen, pid_t child, int) {
        const size_t flashing = screen.find("Flashing ..");
        // The download's bar is drawn after the line that announces it.
        if (interrupted || flashing == std::string::npos || screen.find('%', flashing) == std::string::npos) return;
        ASSERT_EQ(::kill(child, SIGINT), 0);
        interrupted = true;
    };
    const TerminalRun run = RunOnTerminal({"--simulate", "--real-time", "flash", "--yes", m_image}, terminal);
    ASSERT_TRUE(interrupted) << run.screen;
    EXPECT_EQ(run.exitCode, 0) << run.screen;  // the update's own end
    Screen screen;
    screen.Feed(run.screen, terminal.columns);
    const std::vector<std::string> shown = screen.Rows();
    std::string all;
    for (const std::string& line : shown) all += line + "\n";
    const std::string notice = "keluflash-cli: the drive is being written and cannot be stopped now";
    EXPECT_GE(RowOf(shown, notice, terminal.columns), 0) << all;
    EXPECT_EQ(run.screen.find(notice), run.screen.rfind(notice)) << "said once";
    EXPECT_EQ(StepRows(shown).size(), 5u) << all;
    EXPECT_GE(RowOf(shown, "OK:Verify ok!!", terminal.columns), 0) << all;
}

// The checks run before the question: an image for another drive is refused
// and nothing asks; the question, when it comes, names the image and the
// drive; a file name's control characters reach the terminal escaped.
TEST_F(FlashTerminalTest, ARefusalNeverAsksAndTheQuestionNamesBothSides) {
    const std::string other = (m_dir / "other.kfs").string();
    ASSERT_EQ(RunCli("--simulate=two-drives --device 1 demo-image " + other).exitCode, 0);
    TerminalRun run = RunOnTerminal({"--simulate", "flash", other}, "y");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.screen, HasSubstr("Err:The firmware is not support this device!!(4)"));
    EXPECT_THAT(run.screen, ::testing::Not(HasSubstr("[y/N]")));

    const std::string evil = (m_dir / "evil\x1b[31m\x7f.kfs").string();
    std::filesystem::copy_file(m_image, evil);
    run = RunOnTerminal({"--simulate", "flash", evil}, "n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.screen, HasSubstr("Flash " + m_dir.string() +
                                      "/evil\\x1b[31m\\x7f.kfs (KELU ZXR-0131K, revision 1.00, firmware id 4B31) "
                                      "into /dev/sg0 (KELU ZXR-0131K 1.00)? Revision: drive 1.00, image 1.00 (the "
                                      "same: flashing again only repairs). [y/N] n"));
    EXPECT_EQ(run.screen.find("\x1b[31m"), std::string::npos) << run.screen;

    // A name that cannot be opened comes back in the window's own line.
    run = RunOnTerminal({"--simulate", "flash", (m_dir / "nope\x1b[2J.kfs").string()}, "y");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.screen, HasSubstr("nope\\x1b[2J.kfs"));
    EXPECT_EQ(run.screen.find("\x1b[2J"), std::string::npos) << run.screen;
    EXPECT_THAT(run.screen, ::testing::Not(HasSubstr("[y/N]")));
}

}  // namespace
}  // namespace keluflash::test
