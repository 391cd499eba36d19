// What an update holds on to from Start to its end: the copy of the image
// file Start read (a file changed on disk in the middle of an update never
// reaches the drive), and the system's guards around it, each at its moment.
#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/app/window_fixture.h"

namespace keluflash::test {
namespace {

using ::testing::ElementsAre;

// Notes each request with the number of commands the drive had seen, and can
// act at one of them.
class WatchingSystemServices final : public SystemServices {
public:
    explicit WatchingSystemServices(const SimulatedDrive* const& drive) : m_drive(drive) {}
    void RequestRestart() override { Note("restart"); }
    void UpdateBegins() override { Note("update begins"); }
    void UpdateEnds() override { Note("update ends"); }
    void DriveWriteBegins() override { Note("drive write begins"); }
    void DriveWriteEnds() override { Note("drive write ends"); }

    struct Call {
        std::string what;
        size_t commandsBefore;
    };
    std::vector<Call> calls;
    std::function<void(const std::string&)> onCall;

private:
    void Note(const std::string& what) {
        calls.push_back({what, m_drive ? m_drive->Commands().size() : 0});
        if (onCall) onCall(what);
    }
    const SimulatedDrive* const& m_drive;
};

struct GuardedWindow {
    GuardedWindow() : system(drivePointer), form(bench.atapi, bench.Clock(), system, view) {
        drivePointer = &bench.Drive();
        view.form = &form;
        form.FormCreate();
    }
    void Open(const std::string& path) {
        view.dialogAnswer = path;
        form.BitBtn1Click();
        bench.Drive().ClearCommands();
    }
    SimulatedBench bench;
    const SimulatedDrive* drivePointer = nullptr;
    TestView view;
    WatchingSystemServices system;
    TForm1 form;
};

std::vector<std::string> What(const std::vector<WatchingSystemServices::Call>& calls) {
    std::vector<std::string> names;
    for (const auto& call : calls) names.push_back(call.what);
    return names;
}

TEST(UpdateGuardTest, AFileChangedOnDiskDuringTheUpdateNeverReachesTheDrive) {
    TempDir dir;
    const ImageOnDisk image = SaveDemoImage(dir);
    const std::vector<uint8_t> original = [&] {
        std::ifstream file(image.path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
    }();
    for (const bool truncate : {false, true}) {
        SCOPED_TRACE(truncate ? "cut short" : "rewritten");
        GuardedWindow window;
        window.Open(image.path);
        window.view.answer = kIdCancel;
        // Right after Start's validation the file is rewritten (or cut short).
        window.system.onCall = [&](const std::string& what) {
            if (what != "update begins") return;
            std::vector<uint8_t> other = original;
            for (size_t i = 64; i < other.size(); i += 7) other[i] ^= 0x5A;
            if (truncate) other.resize(64 + 0x2000);
            std::ofstream(image.path, std::ios::binary | std::ios::trunc)
                .write(reinterpret_cast<const char*>(other.data()), static_cast<std::streamsize>(other.size()));
        };
        const size_t openLines = window.form.Messages().size();  // the revision line
        window.form.BitBtn2Click();

        EXPECT_THAT(std::vector<std::string>(window.form.Messages().begin() + static_cast<std::ptrdiff_t>(openLines),
                                             window.form.Messages().end()),
                    ElementsAre("Flashing ..", "Ok:Flash Complete!!", "OK:Verify ok!!"));
        const PlainImage plain = BuildDemoImageBlocks({});
        for (size_t k = 0; k < plain.size(); ++k)
            EXPECT_TRUE(std::equal(plain[k].begin(), plain[k].end(), window.bench.Drive().Bank(static_cast<int>(k)).begin()))
                << "bank " << k;
        std::ofstream(image.path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(original.data()), static_cast<std::streamsize>(original.size()));
    }
}

TEST(UpdateGuardTest, TheSystemGuardsEachStretchOfTheUpdate) {
    TempDir dir;
    const ImageOnDisk image = SaveDemoImage(dir);
    GuardedWindow window;
    window.Open(image.path);
    window.view.answer = kIdOk;
    window.form.BitBtn2Click();
    ASSERT_EQ(window.form.LastUpdateResult(), UpdateResult::Verified);

    const auto& commands = window.bench.Drive().Commands();
    const auto firstWhere = [&](const std::function<bool(const RecordedCommand&)>& match) {
        return static_cast<size_t>(std::find_if(commands.begin(), commands.end(), match) - commands.begin());
    };
    const size_t firstWrite = firstWhere(IsWritingCommand);
    const size_t firstRead = firstWhere([](const RecordedCommand& c) { return c.IsVendor(0x11); });
    ASSERT_LT(firstWrite, firstRead);

    EXPECT_THAT(What(window.system.calls),
                ElementsAre("update begins", "drive write begins", "drive write ends", "update ends", "restart"));
    const auto& calls = window.system.calls;
    EXPECT_EQ(calls[0].commandsBefore, 0u) << "held before STOP PLAY/SCAN";
    EXPECT_LE(calls[1].commandsBefore, firstWrite) << "from before the first write ...";
    EXPECT_EQ(calls[2].commandsBefore, firstRead) << "... to the end of the ready wait";
    EXPECT_EQ(calls[3].commandsBefore, commands.size()) << "after the verification ...";
    EXPECT_EQ(calls[4].what, "restart") << "... and given back before the restart, which it would block";

    // A refusal before any write holds nothing back but the update itself.
    GuardedWindow refused;
    refused.bench.Drive().MutableConfig().firmwareId = {0x11, 0x22};
    refused.Open(image.path);
    refused.form.BitBtn2Click();
    EXPECT_THAT(What(refused.system.calls), ElementsAre("update begins", "update ends"));
    // No file: nothing at all.
    GuardedWindow empty;
    empty.form.BitBtn2Click();
    EXPECT_TRUE(empty.system.calls.empty());
}

}  // namespace
}  // namespace keluflash::test
