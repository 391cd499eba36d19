// --simulate=replay:TRACE: a session written by --trace played back. A flash
// replays to the same end with the same lines; an answer edited in the trace
// changes the end as the drive would have; a program that sends other
// commands stops at the first one that differs, and the run fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "drive/transfer_digest.h"
#include "image/descramble.h"
#include "tests/cli/cli_folder.h"

namespace keluflash::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

void WriteLines(const std::string& path, const std::vector<nlohmann::json>& lines) {
    std::ofstream out(path, std::ios::trunc);
    for (const nlohmann::json& line : lines) out << line.dump() << "\n";
}

bool IsReadBack(const nlohmann::json& line) {
    return line.contains("cdb") && line["cdb"].get<std::string>().rfind("5a00384b4511", 0) == 0;
}

class ReplayTest : public ::testing::Test {
protected:
    ReplayTest() : folder("replay") { folder.WriteImage("fw.kfs"); }
    std::string Replay() const { return "--simulate=replay:" + folder.Path("session.jsonl"); }
    CliFolder folder;
};

TEST_F(ReplayTest, AFlashReplaysToTheSameEnd) {
    // Method A, method B, ASPI's status bytes, the patch area (its 64 KiB
    // read), a wait that times out, a drive that is lost, and the second
    // drive of two.
    const struct {
        const char* machine;
        const char* device;
    } rows[] = {{"default", ""},     {"method-b", ""},   {"aspi", ""},       {"patch-area", ""},
                {"never-ready", ""}, {"lost-drive", ""}, {"two-drives", " --device 1"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.machine);
        std::filesystem::remove(folder.Path("session.jsonl"));
        // An image made for the drive the flash goes to.
        ASSERT_EQ(RunCli("--force --simulate=" + std::string(row.machine) + row.device + " demo-image " +
                         folder.Path("fw.kfs"))
                      .exitCode,
                  0);
        const std::string arguments = std::string(row.device) + " flash --yes " + folder.Path("fw.kfs");
        const CliRun recorded = RunCli("--simulate=" + std::string(row.machine) + " --trace " +
                                       folder.Path("session.jsonl") + arguments);
        const CliRun replayed = RunCli(Replay() + arguments);
        EXPECT_EQ(replayed.exitCode, recorded.exitCode) << replayed.err;
        EXPECT_EQ(replayed.out, recorded.out);
        EXPECT_THAT(replayed.err, Not(HasSubstr("replay")));

        const nlohmann::json recordedJson = Document(RunCli(Replay() + " --json" + arguments));
        EXPECT_EQ(recordedJson["replayed_commands"], recordedJson["recorded_commands"]);
        EXPECT_GT(recordedJson["recorded_commands"].get<int>(), 2);
    }
}

// The recording's drive list, and its identification, whatever this machine has.
TEST_F(ReplayTest, TheDriveListComesFromTheRecording) {
    ASSERT_EQ(RunCli("--simulate=two-drives --trace " + folder.Path("session.jsonl") + " list").exitCode, 0);
    CliRun run = RunCli(Replay() + " list");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "0  /dev/sg0  KELU    ZXR-0131K        1.00\n"
              "1  /dev/sg1  KELU    ZXR-0150K        1.10\n");
    // The scan that made the list is in the recording: one INQUIRY a drive,
    // with the drive's answer.
    const nlohmann::json scan = folder.JsonLines("session.jsonl").front()["scan"];
    ASSERT_EQ(scan.size(), 2u) << scan.dump();
    for (const nlohmann::json& command : scan) {
        EXPECT_EQ(command["cdb"].get<std::string>().substr(0, 2), "12");
        EXPECT_EQ(command["data"].get<std::string>().substr(16, 8), "4b454c55") << "\"KELU\" at byte 8";
    }

    // A drive this user could not open is listed with its reason and fix too.
    ASSERT_EQ(RunCli("--simulate=no-access --force --trace " + folder.Path("denied.jsonl") + " list").exitCode, 1);
    const CliRun recorded = RunCli("--simulate=no-access list");
    run = RunCli("--simulate=replay:" + folder.Path("denied.jsonl") + " list");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, recorded.out);
}

// What a read-back brought is what the replay gives back as the drive's
// answer. Bytes changed after the recording (two swapped with the digest
// left as it was, or one changed with the digest made to fit and the sum16
// not) make the trace broken: refused before any command is replayed, naming
// the line. An answer edited whole (data, digest and sum16) replays, and the
// verification fails as it would have on that drive.
TEST_F(ReplayTest, AReadBackEditedInTheTrace) {
    ASSERT_EQ(RunCli("--simulate --trace " + folder.Path("session.jsonl") + " flash --yes " + folder.Path("fw.kfs"))
                  .exitCode,
              0);
    const std::vector<nlohmann::json> recorded = folder.JsonLines("session.jsonl");
    const auto readBack = std::find_if(recorded.begin(), recorded.end(), IsReadBack);
    ASSERT_NE(readBack, recorded.end());
    const size_t index = static_cast<size_t>(readBack - recorded.begin());
    const std::string line = std::to_string(index + 1);
    const std::string data = (*readBack)["data"];
    size_t at = 0;  // two neighbouring bytes that differ
    while (at + 4 <= data.size() && data.substr(at, 2) == data.substr(at + 2, 2)) at += 2;
    ASSERT_LT(at + 4, data.size());

    enum class Refit { Nothing, Digest, Both };
    const struct {
        const char* what;
        std::string data;
        Refit refit;
        const char* refusal;  // null: replayed
    } rows[] = {
        {"two bytes swapped", data.substr(0, at) + data.substr(at + 2, 2) + data.substr(at, 2) + data.substr(at + 4),
         Refit::Nothing, "does not match its recorded digest"},
        {"a byte changed, the digest made to fit", data.substr(0, at) + (data[at] == '0' ? "1" : "0") + data.substr(at + 1),
         Refit::Digest, "does not match its recorded sum16"},
        {"a byte changed with its digest and sum16", data.substr(0, at) + (data[at] == '0' ? "1" : "0") + data.substr(at + 1),
         Refit::Both, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<nlohmann::json> lines = recorded;
        nlohmann::json& edited = lines[index];
        edited["data"] = row.data;
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < row.data.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(row.data.substr(i, 2), nullptr, 16)));
        if (row.refit != Refit::Nothing) {
            char digest[9];
            std::snprintf(digest, sizeof digest, "%08x", TransferDigest(bytes.data(), bytes.size()));
            edited["digest"] = digest;
        }
        if (row.refit == Refit::Both) edited["sum16"] = AddToChecksum(0, bytes.data(), bytes.size());
        WriteLines(folder.Path("session.jsonl"), lines);

        const CliRun run = RunCli(Replay() + " --json flash --yes " + folder.Path("fw.kfs"));
        EXPECT_EQ(run.exitCode, 1);
        const nlohmann::json answer = Document(run);
        if (row.refusal != nullptr) {
            EXPECT_EQ(answer["kind"], "file");
            EXPECT_THAT(answer.value("error", std::string()),
                        HasSubstr("cannot replay " + folder.Path("session.jsonl") + ": line " + line + ": its data (" +
                                  std::to_string(bytes.size()) + " bytes) " + row.refusal));
            EXPECT_FALSE(answer.contains("messages")) << "nothing was replayed";
            EXPECT_FALSE(answer.contains("replayed_commands"));
        } else {
            EXPECT_THAT(answer["messages"], ::testing::Contains("Err:Verify NG !!"));
            EXPECT_EQ(answer["result"], "verify-failed");
            EXPECT_FALSE(answer.contains("replay_error")) << "every command was the recorded one";
        }
    }
}

// Another image: the first block write carries other bytes. The replay stops
// there, names the command, and nothing after it reaches the "drive".
TEST_F(ReplayTest, ADifferentCommandStopsTheReplayAtThatCommand) {
    ASSERT_EQ(RunCli("--simulate --trace " + folder.Path("session.jsonl") + " flash --yes " + folder.Path("fw.kfs"))
                  .exitCode,
              0);
    DemoFirmwareRecipe other;
    other.seed = 7;
    folder.WriteImage("other.kfs", other);
    const std::vector<nlohmann::json> lines = folder.JsonLines("session.jsonl");
    const auto firstBlock = std::find_if(lines.begin(), lines.end(), [](const nlohmann::json& line) {
        return line.contains("cdb") && line["cdb"].get<std::string>().rfind("5a00384b45a0", 0) == 0 &&
               line["direction"] == "out";
    });
    ASSERT_NE(firstBlock, lines.end());
    const std::string number = std::to_string((*firstBlock)["n"].get<int>()) + " (line " +
                               std::to_string(firstBlock - lines.begin() + 1) + ")";

    CliRun run = RunCli(Replay() + " flash --yes " + folder.Path("other.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.out, Not(HasSubstr("Ok:Flash Complete!!")));
    const std::string stop = "keluflash-cli: the replay of " + folder.Path("session.jsonl") + " stopped at command " +
                             number + ": sent CDB " + (*firstBlock)["cdb"].get<std::string>() +
                             " to /dev/sg0, out 65534 bytes (digest ";
    EXPECT_THAT(run.err, HasSubstr(stop));
    EXPECT_THAT(run.err, HasSubstr("; recorded CDB " + (*firstBlock)["cdb"].get<std::string>() +
                                   " to /dev/sg0, out 65534 bytes (digest " + (*firstBlock)["digest"].get<std::string>() +
                                   ")"));

    // The same in JSON, and a program that sends another first command:
    // verify where a flash was recorded.
    run = RunCli(Replay() + " --json verify " + folder.Path("fw.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    const nlohmann::json answer = Document(run);
    EXPECT_THAT(answer["replay_error"].get<std::string>(), HasSubstr("stopped at command 1 (line 2): sent CDB 5a"));
    EXPECT_EQ(answer["replayed_commands"], 0);

    // The recorded drive is the one the commands must go to.
    ASSERT_EQ(RunCli("--simulate=two-drives --trace " + folder.Path("two.jsonl") + " --device 1 flash --dry-run " +
                     folder.Path("fw.kfs"))
                  .exitCode,
              1);
    run = RunCli("--simulate=replay:" + folder.Path("two.jsonl") + " --json --device 0 flash --dry-run " +
                 folder.Path("fw.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(Document(run)["replay_error"].get<std::string>(),
                HasSubstr("command 1 (line 2): sent CDB 120000003200000000000000 to /dev/sg0, in 50 bytes; recorded CDB "
                          "120000003200000000000000 to /dev/sg1, in 50 bytes"));

    // A run whose own steps pass over the commands that were not sent (an
    // image with firmware id 00 00 reads as the drive's when its INQUIRY
    // brings nothing) fails all the same.
    DemoFirmwareRecipe zeroId;
    zeroId.firmwareId = {0, 0};
    folder.WriteImage("zero-id.kfs", zeroId);
    run = RunCli("--simulate=replay:" + folder.Path("two.jsonl") + " --json --device 0 flash --dry-run " +
                 folder.Path("zero-id.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    const nlohmann::json passed = Document(run);
    EXPECT_EQ(passed["kind"], "replay");
    EXPECT_THAT(passed["error"].get<std::string>(), HasSubstr("stopped at command 1"));
    EXPECT_FALSE(passed.contains("drive_state"));
}

// A replay that stopped says so, and nothing about a drive: what the program
// made of the commands that were not sent (a block "reached the drive", the
// advice to flash again) is no drive's state. Two block writes swapped in
// the trace stop it after a block was replayed; another image at its first.
TEST_F(ReplayTest, AStoppedReplayIsTheReplaysFailureNotTheDrives) {
    ASSERT_EQ(RunCli("--simulate --trace " + folder.Path("session.jsonl") + " flash --yes " + folder.Path("fw.kfs"))
                  .exitCode,
              0);
    const std::vector<nlohmann::json> recorded = folder.JsonLines("session.jsonl");
    std::vector<size_t> blocks;
    for (size_t i = 0; i < recorded.size(); ++i) {
        if (recorded[i].contains("cdb") && recorded[i]["cdb"].get<std::string>().rfind("5a00384b45a0", 0) == 0 &&
            recorded[i]["direction"] == "out")
            blocks.push_back(i);
    }
    ASSERT_GE(blocks.size(), 3u);
    std::vector<nlohmann::json> swapped = recorded;
    std::swap(swapped[blocks[1]], swapped[blocks[2]]);
    WriteLines(folder.Path("swapped.jsonl"), swapped);
    DemoFirmwareRecipe other;
    other.seed = 7;
    folder.WriteImage("other.kfs", other);
    const struct {
        const char* what;
        const char* trace;
        const char* image;
        size_t stop;  // the line it stops at
    } rows[] = {{"two block writes swapped", "swapped.jsonl", "fw.kfs", blocks[1]},
                {"another image", "session.jsonl", "other.kfs", blocks[0]}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string arguments =
            "--simulate=replay:" + folder.Path(row.trace) + " flash --yes " + folder.Path(row.image);
        const CliRun text = RunCli(arguments);
        EXPECT_EQ(text.exitCode, 1);
        const std::string stop = "keluflash-cli: the replay of " + folder.Path(row.trace) + " stopped at command " +
                                 std::to_string(row.stop) + " (line " + std::to_string(row.stop + 1) + "): sent CDB";
        EXPECT_THAT(text.err, HasSubstr(stop));
        EXPECT_THAT(text.err, HasSubstr("; recorded CDB 5a00384b45a0"));
        for (const char* advice : {"image again", "leave it powered", "locks reached", "Err:"}) {
            EXPECT_THAT(text.out, Not(HasSubstr(advice)));
            EXPECT_THAT(text.err, Not(HasSubstr(advice)));
        }

        const CliRun json = RunCli("--json " + arguments);
        EXPECT_EQ(json.exitCode, 1);
        const nlohmann::json answer = Document(json);
        EXPECT_EQ(answer["kind"], "replay");
        EXPECT_THAT(answer["error"].get<std::string>(), HasSubstr(stop.substr(std::string("keluflash-cli: ").size())));
        EXPECT_EQ(answer["error"], answer["replay_error"]);
        EXPECT_EQ(answer["replayed_commands"], row.stop - 1);
        for (const char* claim : {"drive_state", "written", "summary", "result", "verification"})
            EXPECT_FALSE(answer.contains(claim)) << claim;
        EXPECT_THAT(answer.dump(), Not(HasSubstr("image again")));
    }
}

// The trace's name is text from the command line: its control characters
// reach standard error escaped, in the note of a recording left unplayed as
// in the stop.
TEST_F(ReplayTest, TheTracesNameIsShownEscaped) {
    const std::string trace = folder.Path("red\x1b[31m.jsonl");
    ASSERT_EQ(RunCli("--simulate --trace " + Quoted(trace) + " flash --yes " + folder.Path("fw.kfs")).exitCode, 0);
    const std::string shown = folder.Path("red\\x1b[31m.jsonl");
    CliRun run = RunCli("--simulate=replay:" + Quoted(trace) + " flash --dry-run " + folder.Path("fw.kfs"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr(" commands recorded in " + shown + "\n"));
    EXPECT_THAT(run.err, Not(HasSubstr("\x1b")));
    run = RunCli("--simulate=replay:" + Quoted(trace) + " verify " + folder.Path("fw.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("the replay of " + shown + " stopped at command 1 (line 2)"));
    EXPECT_THAT(run.err, Not(HasSubstr("\x1b")));
}

TEST_F(ReplayTest, ATraceOfAnotherFormatIsRefusedWithItsReason) {
    std::ofstream(folder.Path("v1.jsonl"))
        << R"({"cdb":"000000000000000000000000","direction":"none","length":0,"sense":[0,0,0],"status":1,"time_ms":5})"
        << "\n";
    std::ofstream(folder.Path("v3.jsonl")) << R"({"keluflash_trace":3,"drives":[]})" << "\n";
    std::ofstream(folder.Path("notes.txt")) << "not a trace\n";
    const struct {
        const char* file;
        const char* reason;
    } rows[] = {
        {"v1.jsonl", "it was written in trace format 1 (no header line"},
        {"v3.jsonl", "it was written in trace format 3, and this keluflash-cli replays format 2 only"},
        {"notes.txt", "line 1 is not a JSON object"},
        {"absent.jsonl", "No such file or directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const CliRun run = RunCli("--simulate=replay:" + folder.Path(row.file) + " --json list");
        EXPECT_EQ(run.exitCode, 1);
        const nlohmann::json answer = Document(run);
        EXPECT_EQ(answer["kind"], "file");
        EXPECT_THAT(answer["error"].get<std::string>(),
                    HasSubstr("cannot replay " + folder.Path(row.file) + ": " + row.reason));
    }
}

// Each command ends on the clock where it ended in the recording (here the
// second INQUIRY 3 s after the first), which a trace of the replay shows;
// with --real-time that time also passes for real, without it the replay
// does not wait.
TEST_F(ReplayTest, RealTimeTakesTheRecordedTime) {
    ASSERT_EQ(RunCli("--simulate=unknown-model --trace " + folder.Path("session.jsonl") + " flash --dry-run " +
                     folder.Path("fw.kfs"))
                  .exitCode,
              1);
    std::vector<nlohmann::json> lines = folder.JsonLines("session.jsonl");
    ASSERT_EQ(lines.size(), 3u) << "the header and two INQUIRYs";
    const uint32_t end = lines[1]["time_ms"].get<uint32_t>() + 3000;
    lines[2]["time_ms"] = end;
    WriteLines(folder.Path("session.jsonl"), lines);

    const auto timed = [&](const std::string& options) {
        std::filesystem::remove(folder.Path("again.jsonl"));
        const auto start = std::chrono::steady_clock::now();
        const CliRun run = RunCli(Replay() + options + " --trace " + folder.Path("again.jsonl") + " flash --dry-run " +
                                  folder.Path("fw.kfs"));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(run.out,
                  "Revision: drive 2.10, image 1.00 (older: a downgrade)\n"
                  "Err:The firmware is not support this device!!(4)\n");
        EXPECT_EQ(folder.JsonLines("again.jsonl").back()["time_ms"], end);
        return took;
    };
    EXPECT_GE(timed(" --real-time"), std::chrono::milliseconds(3000));
    // Far less: the program's start alone, even under a sanitizer.
    EXPECT_LT(timed(""), std::chrono::milliseconds(2000));
}

// One session of the kernel test kept in the fast tests: keluflash-cli
// flashing the simulated drive attached as a USB optical drive (usb-storage,
// sr and sg of Debian's kernel under QEMU, beside QEMU's own CD-ROM),
// recorded once with tests/kernel/record_usb_trace.sh. Its replay ends as the
// real run did, line for line, from the recording's own drive list.
TEST_F(ReplayTest, TheKernelTestsUsbSessionReplays) {
    const std::string fixtures = KELUFLASH_CLI_FIXTURES;
    for (const char* name : {"kernel-usb-flash.trace", "kernel-usb-flash.kfs"}) {
        ASSERT_EQ(std::system(("gzip -dc " + Quoted(fixtures + "/" + name + ".gz") + " >" + Quoted(folder.Path(name)))
                                  .c_str()),
                  0);
    }
    const std::string replay = "--simulate=replay:" + folder.Path("kernel-usb-flash.trace");
    const nlohmann::json header = folder.JsonLines("kernel-usb-flash.trace").front();
    std::string usbDrive;
    for (const nlohmann::json& drive : header["drives"])
        if (drive["identification"].get<std::string>().rfind("KELU", 0) == 0) usbDrive = drive["device"];
    ASSERT_FALSE(usbDrive.empty()) << header.dump();

    CliRun run = RunCli(replay + " list");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_THAT(run.out, HasSubstr("  QEMU    QEMU DVD-ROM    "));
    EXPECT_THAT(run.out, HasSubstr("  " + usbDrive + "  KELU    ZXR-0131K        1.00\n"));

    run = RunCli(replay + " flash --yes --device " + usbDrive + " " + folder.Path("kernel-usb-flash.kfs"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, ReadFile(fixtures + "/kernel-usb-flash.out"));
    run = RunCli(replay + " --json flash --yes --device " + usbDrive + " " + folder.Path("kernel-usb-flash.kfs"));
    const nlohmann::json answer = Document(run);
    EXPECT_EQ(answer["result"], "verified");
    EXPECT_EQ(answer["replayed_commands"], answer["recorded_commands"]);
    EXPECT_GT(answer["recorded_commands"].get<int>(), 500) << "the read-back's reads among them";
}

}  // namespace
}  // namespace keluflash::test
