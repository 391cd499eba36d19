// keluflash-cli flash at a terminal: a real pseudo-terminal is its standard
// input, output and error, as when a person runs it. The steps appear in
// order, each with a bar that never moves back; the system's lines are there
// as they always are; the summary ends it; "n" says nothing was written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "image/image_writer.h"
#include "tests/cli/cli_run.h"

namespace keluflash::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct TerminalRun {
    int exitCode = -1;
    std::string screen;  // everything the terminal received
};

// Runs the program on a new pseudo-terminal and types `answer` at the
// confirmation question, after `atPrompt` has run.
TerminalRun RunOnTerminal(const std::vector<std::string>& arguments, const std::string& answer,
                          const std::function<void()>& atPrompt = {}) {
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {
        std::vector<char*> argv{const_cast<char*>(KELUFLASH_CLI_PROGRAM)};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    TerminalRun run;
    bool answered = false;
    for (;;) {
        pollfd readable{terminal, POLLIN, 0};
        if (::poll(&readable, 1, 30000) <= 0) break;
        char buffer[4096];
        const ssize_t got = ::read(terminal, buffer, sizeof buffer);
        if (got <= 0) break;  // EIO once the child has closed the terminal
        run.screen.append(buffer, static_cast<size_t>(got));
        if (!answered && run.screen.find("[y/N] ") != std::string::npos) {
            if (atPrompt) atPrompt();
            const std::string typed = answer + "\n";
            EXPECT_EQ(::write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
            answered = true;
        }
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(child, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
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
