// keluflash-cli flashing a simulated drive paced on the real clock, as a
// person runs it: a real SIGINT (and SIGTERM) in the middle of the download
// waits for the update to end, which completes and verifies; a reader that
// goes away (| head -n1) does not stop it either.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/cli_run.h"

namespace keluflash::test {
namespace {

using ::testing::HasSubstr;

struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
};

Child Spawn(const std::vector<std::string>& arguments) {
    int out[2];
    int err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        std::vector<char*> argv;
        std::vector<std::string> copies = arguments;
        copies.insert(copies.begin(), KELUFLASH_CLI_PROGRAM);
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    child.out = out[0];
    child.err = err[0];
    return child;
}

// Reads until `text` has come (true) or the stream ended.
bool ReadUntil(int fd, const std::string& text, std::string& got) {
    char buffer[256];
    while (got.find(text) == std::string::npos) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        got.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

std::string ReadAll(int fd) {
    std::string got;
    ReadUntil(fd, std::string(1, '\0'), got);
    close(fd);
    return got;
}

class InterruptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::path(testing::TempDir()) / ("keluflash-interruption-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
        ASSERT_EQ(RunCli("--simulate demo-image " + Image()).exitCode, 0);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Image() const { return (m_dir / "demo.kfs").string(); }
    std::filesystem::path m_dir;
};

TEST_F(InterruptionTest, SignalsWhileTheDriveIsWrittenWaitForTheUpdateToEnd) {
    const Child child = Spawn({"--simulate", "--real-time", "flash", "--yes", Image()});
    std::string out;
    // "Flashing .." comes after the guard is up and before the first block.
    ASSERT_TRUE(ReadUntil(child.out, "Flashing ..\n", out));
    ASSERT_EQ(kill(child.pid, SIGINT), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(kill(child.pid, SIGTERM), 0);
    out += ReadAll(child.out);
    const std::string err = ReadAll(child.err);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);

    EXPECT_EQ(out, "Revision: drive 1.00, image 1.00 (the same: flashing again only repairs)\nFlashing ..\nOk:Flash Complete!!\nOK:Verify ok!!\n") << err;
    const std::string notice = "the drive is being written and cannot be stopped now; the update ends by itself within";
    EXPECT_THAT(err, HasSubstr(notice));
    EXPECT_EQ(err.find(notice), err.rfind(notice)) << "said once: " << err;
    // The update's own end is the program's: it says the signal waited.
    EXPECT_THAT(err, HasSubstr("keluflash-cli: SIGINT arrived while the drive was written and waited for the update to "
                               "end\n"));
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ^\ is held like ^C (and ends the program after the update, with its own
// signal); ^Z and a background terminal's stop are ignored while the drive is
// written, so the update is never stopped half-way.
TEST_F(InterruptionTest, QuitIsHeldAndStopsAreIgnoredWhileTheDriveIsWritten) {
    struct Row {
        int signal;
        bool held;  // said at the end as a signal that waited
    };
    for (const Row row : {Row{SIGQUIT, true}, Row{SIGTSTP, false}, Row{SIGTTOU, false}}) {
        SCOPED_TRACE(strsignal(row.signal));
        const Child child = Spawn({"--simulate", "--real-time", "flash", "--yes", Image()});
        std::string out;
        ASSERT_TRUE(ReadUntil(child.out, "Flashing ..\n", out));
        ASSERT_EQ(kill(child.pid, row.signal), 0);
        // Waited for first: a stopped program would keep its pipes open. Its
        // few lines fit the pipes meanwhile.
        int status = 0;
        ASSERT_EQ(waitpid(child.pid, &status, WUNTRACED), child.pid);
        EXPECT_FALSE(WIFSTOPPED(status)) << "stopped half-way";
        if (WIFSTOPPED(status)) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            close(child.out);
            close(child.err);
            continue;
        }
        out += ReadAll(child.out);
        const std::string err = ReadAll(child.err);
        EXPECT_EQ(out, "Revision: drive 1.00, image 1.00 (the same: flashing again only repairs)\nFlashing ..\nOk:Flash Complete!!\nOK:Verify ok!!\n") << err;
        EXPECT_EQ(err.find("SIGQUIT arrived while the drive was written") != std::string::npos, row.held) << err;
        ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}

// SIGTERM in the middle of each command that works on a drive, under --json:
// one document, the interruption in it with what was done, no temporary file
// left, and the exit code a shell expects (143). The flash is written when the
// signal comes: it waits, ends verified, and says so with the update's code.
TEST_F(InterruptionTest, ATermMidRunEndsEveryCommandWithOneDocument) {
    std::filesystem::create_directories(m_dir / "folder");
    for (int i = 0; i < 40; ++i)
        std::filesystem::copy_file(Image(), m_dir / "folder" / ("copy" + std::to_string(i) + ".kfs"));
    const std::string dump = (m_dir / "dump.bin").string();
    struct Row {
        std::vector<std::string> command;
        int commandsFirst;  // the trace shows this many commands before the signal
        int exitCode;
        std::string kind;   // empty: a success
    };
    const Row rows[] = {
        {{"verify", Image()}, 30, 143, "interrupted"},
        {{"dump", dump}, 30, 143, "interrupted"},
        {{"match", (m_dir / "folder").string()}, 8, 143, "interrupted"},
        {{"flash", "--yes", Image()}, 30, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command.front());
        const std::string trace = (m_dir / "trace.jsonl").string();
        std::filesystem::remove(trace);
        std::vector<std::string> arguments{"--json", "--simulate", "--real-time", "--trace", trace};
        arguments.insert(arguments.end(), row.command.begin(), row.command.end());
        const Child child = Spawn(arguments);
        // Waits for the commands in the trace, each line written as it happens.
        for (int tries = 0; tries < 2000; ++tries) {
            const std::string written = ReadFile(trace);
            size_t commands = 0;
            for (size_t at = written.find("\"cdb\""); at != std::string::npos; at = written.find("\"cdb\"", at + 1))
                ++commands;
            if (commands >= static_cast<size_t>(row.commandsFirst)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_EQ(kill(child.pid, SIGTERM), 0);
        const std::string out = ReadAll(child.out);
        const std::string err = ReadAll(child.err);
        int status = 0;
        ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
        ASSERT_TRUE(WIFEXITED(status)) << "status " << status << err;
        EXPECT_EQ(WEXITSTATUS(status), row.exitCode) << out << err;
        const nlohmann::json document = nlohmann::json::parse(out);  // exactly one
        if (row.kind.empty()) {
            EXPECT_FALSE(document.contains("kind")) << out;
            EXPECT_EQ(document["result"], "verified");
            EXPECT_EQ(document["held_signal"], "SIGTERM");
        } else {
            EXPECT_EQ(document["kind"], row.kind) << out;
            EXPECT_EQ(document["error"], "interrupted by SIGTERM; nothing was written to the drive");
            EXPECT_EQ(document["drive"]["path"], "/dev/sg0");
        }
        for (const auto& entry : std::filesystem::directory_iterator(m_dir))
            EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos) << entry.path();
        EXPECT_FALSE(std::filesystem::exists(dump));
    }
}

// A signal while the question waits ends the program at once: nothing was
// written, and the shell sees the signal's code.
TEST_F(InterruptionTest, ASignalAtTheQuestionEndsAtOnce) {
    // A terminal is needed for the question: a pseudo-terminal on standard input.
    const std::string command = "exec " + std::string(KELUFLASH_CLI_PROGRAM) + " --simulate flash " + Quoted(Image());
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string screen;
    ASSERT_TRUE(ReadUntil(master, "[y/N] ", screen));
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(pid, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(3));
    char buffer[512];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) screen.append(buffer, static_cast<size_t>(n));
    close(master);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_THAT(screen, HasSubstr("interrupted by SIGINT before the command could end; nothing was written to the "
                                  "drive"));
}

// A signal held during the update asked for the program to end: --reboot
// then restarts nothing, and says so.
TEST_F(InterruptionTest, AHeldSignalCancelsTheRestart) {
    const Child child = Spawn({"--simulate", "--real-time", "flash", "--yes", "--reboot", Image()});
    std::string out;
    ASSERT_TRUE(ReadUntil(child.out, "Flashing ..\n", out));
    ASSERT_EQ(kill(child.pid, SIGTERM), 0);
    out += ReadAll(child.out);
    const std::string err = ReadAll(child.err);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
    EXPECT_THAT(out, HasSubstr("OK:Verify ok!!"));
    EXPECT_THAT(err, HasSubstr("a signal arrived during the update: the machine is not restarted"));
    EXPECT_THAT(err, ::testing::Not(HasSubstr("the restart was requested")));
}

// Started with standard output and error closed, the program's lines go
// nowhere, never into the next file it opens (here the trace).
TEST_F(InterruptionTest, ClosedStandardStreamsNeverLendTheirNumbersToFiles) {
    const std::string trace = (m_dir / "trace.jsonl").string();
    const std::string command = std::string(KELUFLASH_CLI_PROGRAM) + " --simulate --trace " + Quoted(trace) +
                                " flash --yes " + Quoted(Image()) + " </dev/null 1>&- 2>&-";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string written = ReadFile(trace);
    EXPECT_THAT(written, HasSubstr("\"cdb\""));
    EXPECT_THAT(written, ::testing::Not(HasSubstr("Flashing ..")));
    EXPECT_THAT(written, ::testing::Not(HasSubstr("OK:Verify ok!!")));
}

// The sleep and shutdown lock is asked of a system bus that accepts and never
// answers: the update goes on without the lock after a few seconds.
TEST_F(InterruptionTest, ABusThatNeverAnswersDoesNotHoldTheUpdate) {
    const std::string path = (m_dir / "mute.sock").string();
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);  // the kernel accepts; nobody answers
    const auto started = std::chrono::steady_clock::now();
    const CliRun run = RunCliAfter("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + Quoted(path), "--simulate flash --yes " + Image());
    const auto took = std::chrono::steady_clock::now() - started;
    close(listener);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_LT(took, std::chrono::seconds(30));
}

TEST_F(InterruptionTest, AReaderThatGoesAwayDoesNotStopTheUpdate) {
    const Child child = Spawn({"--simulate", "--real-time", "flash", "--yes", Image()});
    std::string out;
    ASSERT_TRUE(ReadUntil(child.out, "Flashing ..\n", out));
    close(child.out);  // | head -n1
    const std::string err = ReadAll(child.err);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    // The update verified; the lines it could not write are a failure of
    // their own, said on standard error.
    EXPECT_THAT(err, HasSubstr("flashed and verified"));
    EXPECT_THAT(err, HasSubstr("keluflash-cli: standard output could not be written; the command itself succeeded"));
    EXPECT_EQ(WEXITSTATUS(status), 1) << err;
}

}  // namespace
}  // namespace keluflash::test
