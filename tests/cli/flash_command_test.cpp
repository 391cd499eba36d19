// keluflash-cli flash, verify, dump and demo-image, run as a script runs them,
// always on simulated drives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/cli/cli_run.h"

namespace keluflash::test {
namespace {

using ::testing::HasSubstr;

class FlashCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::path(testing::TempDir()) /
                ("keluflash-flash-cli-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
        ASSERT_EQ(RunCli("--simulate demo-image " + Path("demo.kfs")).exitCode, 0);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    // The trace's lines, parsed.
    std::vector<nlohmann::json> Trace() const {
        std::vector<nlohmann::json> lines;
        std::istringstream text(ReadFile(Path("trace.jsonl")));
        for (std::string line; std::getline(text, line);) lines.push_back(nlohmann::json::parse(line));
        return lines;
    }
    // A block write, a trigger, WRITE BUFFER or a memory write.
    static bool Writes(const nlohmann::json& line) {
        if (!line.contains("cdb")) return false;  // the header
        const std::string cdb = line["cdb"];
        return cdb.rfind("3b", 0) == 0 || cdb.rfind("5a00384b45a0", 0) == 0 || cdb.rfind("5a00384b45a2", 0) == 0;
    }

    std::filesystem::path m_dir;
};

TEST_F(FlashCommandTest, FlashesAndVerifiesASimulatedDrive) {
    const CliRun run = RunCli("--simulate --trace " + Path("trace.jsonl") + " flash --yes " + Path("demo.kfs"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Revision: drive 1.00, image 1.00 (the same: flashing again only repairs)\nFlashing ..\nOk:Flash Complete!!\nOK:Verify ok!!\n");
    EXPECT_THAT(run.err, HasSubstr("Reboot this computer right now ? Cancel"));
    const auto trace = Trace();
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(), Writes), 9) << "8 blocks and the trigger";
}

// The drive vanishes at the fourth block write: the kernel answers
// DID_NO_CONNECT, then ENODEV. The download ends at that block with the
// system's text; nothing reads as flashed.
TEST_F(FlashCommandTest, ADriveLostMidDownloadEndsWithTheBlockWriteFailure) {
    const CliRun run = RunCli("--simulate=lost-drive --trace " + Path("trace.jsonl") + " flash --yes " + Path("demo.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.out, HasSubstr("Err:Flash command(W) has problems."));
    EXPECT_THAT(run.out, ::testing::Not(HasSubstr("Ok:Flash Complete!!")));
    EXPECT_THAT(run.out, ::testing::Not(HasSubstr("OK:Verify ok!!")));
    EXPECT_THAT(run.err, HasSubstr("No such device"));
}

TEST_F(FlashCommandTest, WritesNothingWithoutConfirmationOrInADryRun) {
    const struct {
        std::string arguments;
        int exitCode;
        const char* err;
    } rows[] = {
        {"--simulate flash " + Path("demo.kfs"), 1, "pass --yes"},
        {"--simulate flash --dry-run " + Path("demo.kfs"), 0, "nothing was written"},
        {"--simulate=unknown-model flash --dry-run " + Path("demo.kfs"), 1, ""},
        {"--simulate=unknown-model flash --yes " + Path("demo.kfs"), 1, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        std::filesystem::remove(Path("trace.jsonl"));
        const CliRun run = RunCli("--trace " + Path("trace.jsonl") + " " + row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        EXPECT_THAT(run.err, HasSubstr(row.err));
        for (const nlohmann::json& line : Trace()) EXPECT_FALSE(Writes(line)) << line.dump();
    }
    EXPECT_EQ(RunCli("--simulate=unknown-model flash --dry-run " + Path("demo.kfs")).out,
              "Revision: drive 2.10, image 1.00 (older: a downgrade)\n"
              "Err:The firmware is not support this device!!(4)\n");
}

TEST_F(FlashCommandTest, AnswersInJsonAndReportsFailuresWithExitCodeOne) {
    CliRun run = RunCli("--simulate --json flash --yes --reboot " + Path("demo.kfs"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    nlohmann::json answer = nlohmann::json::parse(run.out);
    EXPECT_EQ(answer["result"], "verified");
    EXPECT_EQ(answer["messages"], (nlohmann::json{"Revision: drive 1.00, image 1.00 (the same: flashing again only repairs)", "Flashing ..",
                                                  "Ok:Flash Complete!!", "OK:Verify ok!!"}));
    EXPECT_THAT(run.err, HasSubstr("nothing was restarted"));

    run = RunCli("--simulate=never-ready --json flash --yes " + Path("demo.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    answer = nlohmann::json::parse(run.out);
    EXPECT_EQ(answer["result"], "flash-failed");
    EXPECT_EQ(answer["messages"][3], "Err:Flash error,time out 120 Sec");
}

TEST_F(FlashCommandTest, VerifyDumpAndUsage) {
    // A fresh simulated drive still holds its old firmware.
    CliRun run = RunCli("--simulate verify " + Path("demo.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Err:Verify NG !!\n");

    run = RunCli("--simulate dump --banks 3 " + Path("flash.bin"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(std::filesystem::file_size(Path("flash.bin")), (256u + 240u + 240u) * 256u);
    EXPECT_THAT(run.out, HasSubstr("188416 bytes from 3 banks, 16-bit sum 0x"));

    EXPECT_EQ(RunCli("demo-image " + Path("real.kfs")).exitCode, 2) << "demo images are for simulated drives only";
    EXPECT_FALSE(std::filesystem::exists(Path("real.kfs")));
    EXPECT_EQ(RunCli("--simulate flash").exitCode, 2);
    EXPECT_EQ(RunCli("--simulate dump --banks 0 " + Path("x.bin")).exitCode, 2);
    EXPECT_THAT(RunCli("flash --help").out, HasSubstr("Exit codes: 0 success, 1 refused or failed"));
}

}  // namespace
}  // namespace keluflash::test
