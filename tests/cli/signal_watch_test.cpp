// The signal watch's one state, with real signals taken by its own thread,
// and the step hook forcing what runs between the watcher's reading the state
// and its changing it: a Hold() that comes in between holds the signal (the
// drive is being written from there on), a Release() that comes in between
// lets it interrupt, and never is the command interrupted while holding.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "app/cli/signal_watch.h"
#include "app/cli/terminal_line.h"

namespace keluflash::cli {
namespace {

const std::string kNotice = "the drive is being written\n";

enum class Step { Nothing, Hold, Release };

struct Row {
    const char* name;
    bool holdFirst;  // Hold() before the signal is sent
    Step between;    // run on the watcher's thread between its two steps
    int signal;
    bool held;  // else interrupted
};

TEST(SignalWatchTest, HoldAndReleaseBetweenTheWatchersStepsNeverInterruptWhileHolding) {
    const Row rows[] = {
        {"idle: interrupts", false, Step::Nothing, SIGINT, false},
        {"holding: held", true, Step::Nothing, SIGTERM, true},
        {"a Hold between the steps: held", false, Step::Hold, SIGHUP, true},
        {"a Release between the steps: interrupts, says nothing of a write", true, Step::Release, SIGQUIT, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::ostringstream said;
        ErrorLine err(said);
        std::atomic<int> steps{0};
        const Step between = row.between;
        auto watch = std::make_unique<SignalWatch>(false, err, [&steps, between](SignalWatch& w) {
            if (between == Step::Hold) w.Hold(kNotice);
            if (between == Step::Release) w.Release();
            steps.fetch_add(1);
            steps.notify_all();
        });
        if (row.holdFirst) watch->Hold(kNotice);
        // Blocked in this thread by the watch: only its thread takes it.
        ASSERT_EQ(kill(getpid(), row.signal), 0);
        // Held and interrupted each stay once reached: the first signal's verdict.
        while (watch->Held() == 0 && watch->Interrupted() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(watch->Held(), row.held ? row.signal : 0);
        EXPECT_EQ(watch->Interrupted(), row.held ? 0 : row.signal);

        watch->Release();
        // A later Hold changes neither: an interrupted command sends the
        // drive nothing more, a held signal stays held.
        watch->Hold("again\n");
        EXPECT_EQ(watch->Held(), row.held ? row.signal : 0);
        EXPECT_EQ(watch->Interrupted(), row.held ? 0 : row.signal);
        if (row.held) {
            // Once held, the program is ending: a second signal after the
            // Release is held too, and not said again (a second signal that
            // interrupts ends the program, not tested here).
            const int before = steps.load();
            ASSERT_EQ(kill(getpid(), SIGTERM), 0);
            steps.wait(before);
            EXPECT_EQ(watch->Interrupted(), 0);
        }
        watch.reset();  // joins the watcher: what it said is all there
        EXPECT_EQ(said.str(), row.held ? kNotice : "");
    }
}

}  // namespace
}  // namespace keluflash::cli
