// The files keluflash-cli writes, run as a script runs it: dump, pack and
// demo-image never leave a partial file or touch an existing one; a trace
// never empties the image it traces and says when it lost lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/cli/cli_run.h"

namespace keluflash::test {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

class SafeFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::path(testing::TempDir()) / ("keluflash-files-" + std::to_string(::getpid()) + "-" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir / "locked");
        fs::permissions(m_dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
        fs::permissions(m_dir / "locked", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
        ASSERT_EQ(RunCli("--simulate demo-image " + Path("demo.kfs")).exitCode, 0);
        std::ofstream(Path("block.bin")) << "\x02\x01";
    }
    void TearDown() override {
        fs::permissions(m_dir / "locked", fs::perms::owner_all);
        fs::remove_all(m_dir);
    }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    // The folder's names, to see that no temporary file stayed behind.
    std::vector<std::string> Names(const std::string& folder = "") const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir / folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path m_dir;
};

// Root may write into any folder: the unwritable folder is tried as nobody.
std::string AsUnprivileged() { return ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : ""; }

TEST_F(SafeFilesTest, AFailedWriteLeavesTheTargetAsItWas) {
    const std::string old = "the old contents\n";
    const std::string limit = "ulimit -f 64; trap '' XFSZ; exec";  // 32 KiB: every one of these files is bigger
    const struct {
        std::string name;
        std::string prefix;
        std::string arguments;  // TARGET stands for the file
        std::string target;
        std::string errorPart;
    } rows[] = {
        {"dump, disk full", limit, "--force --simulate dump TARGET", "old.bin", "File too large"},
        {"demo-image, disk full", limit, "--force --simulate demo-image TARGET", "old.kfs", "File too large"},
        {"dump, existing", "", "--simulate dump TARGET", "old.bin", "it exists (pass --force"},
        {"pack, existing", "", "pack TARGET --block " + Path("block.bin"), "old.kfs", "it exists (pass --force"},
        {"demo-image, existing", "", "--simulate demo-image TARGET", "old.kfs", "it exists"},
        {"dump, unwritable folder", AsUnprivileged(), "--simulate dump TARGET", "locked/new.bin",
         "Permission denied"},
        {"pack, unwritable folder", AsUnprivileged(), "pack TARGET --block " + Path("block.bin"), "locked/new.kfs",
         "Permission denied"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const bool existing = row.target.rfind("locked/", 0) != 0;
        if (existing) std::ofstream(Path(row.target)) << old;
        std::string arguments = row.arguments;
        arguments.replace(arguments.find("TARGET"), 6, Path(row.target));
        const std::vector<std::string> before = Names();
        const CliRun run = RunCliAfter(row.prefix, "--json " + arguments);
        EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
        const nlohmann::json answer = nlohmann::json::parse(run.out);
        EXPECT_EQ(answer["kind"], "file");
        EXPECT_THAT(answer["error"].get<std::string>(), HasSubstr(row.errorPart));
        if (existing)
            EXPECT_EQ(ReadFile(Path(row.target)), old);
        else
            EXPECT_FALSE(fs::exists(Path(row.target)));
        EXPECT_EQ(Names(), before) << "no partial file";
        EXPECT_TRUE(Names("locked").empty());
    }
}

TEST_F(SafeFilesTest, ForceReplacesAWholeFile) {
    std::ofstream(Path("old.bin")) << "old";
    const CliRun run = RunCli("--force --simulate dump --banks 1 " + Path("old.bin"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fs::file_size(Path("old.bin")), 65536u);
    // --force never replaces what is not a regular file.
    EXPECT_THAT(RunCli("--force --simulate dump /dev/null").err, HasSubstr("not a regular file"));
}

// A name as long as the file system takes still has room for the temporary
// file beside it, also when the cut falls inside a character.
TEST_F(SafeFilesTest, TheLongestLegalNameIsWritten) {
    for (const std::string& name : {std::string(255, 'a'), std::string(228, 'b') + "\xc3\xa9" + std::string(25, 'c')}) {
        const CliRun run = RunCli("--simulate dump --banks 1 " + Path(name));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(fs::file_size(Path(name)), 65536u);
    }
    EXPECT_EQ(Names().size(), 5u) << "locked, demo.kfs, block.bin and the two dumps, nothing else";
}

TEST_F(SafeFilesTest, TheTraceNeverTouchesTheImageOrAnExistingFile) {
    const std::string image = ReadFile(Path("demo.kfs"));
    fs::create_hard_link(Path("demo.kfs"), Path("link.kfs"));
    for (const std::string& trace : {Path("demo.kfs"), Path("link.kfs"), (m_dir / "locked/../demo.kfs").string()}) {
        SCOPED_TRACE(trace);
        const CliRun run = RunCli("--simulate --trace " + trace + " flash --yes " + Path("demo.kfs"));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_THAT(run.err, HasSubstr("which this command uses"));
        EXPECT_EQ(run.out, "") << "nothing was flashed";
        EXPECT_EQ(ReadFile(Path("demo.kfs")), image);
    }

    std::ofstream(Path("trace.jsonl")) << "{\"earlier\":1}\n";
    const std::string dryRun = " flash --dry-run " + Path("demo.kfs");  // INQUIRY only
    CliRun run = RunCli("--simulate --trace " + Path("trace.jsonl") + dryRun);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("pass --force"));
    EXPECT_EQ(ReadFile(Path("trace.jsonl")), "{\"earlier\":1}\n");
    run = RunCli("--force --simulate --trace " + Path("trace.jsonl") + dryRun);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadFile(Path("trace.jsonl")).rfind("{\"earlier\":1}\n{", 0), 0u) << "added at the end";
}

// /dev/full takes no byte: the flash still ends as it did, and the lost trace
// is said at the end.
TEST_F(SafeFilesTest, ATraceThatCannotBeWrittenIsReportedWithoutChangingTheResult) {
    CliRun run = RunCli("--simulate --trace /dev/full flash --yes " + Path("demo.kfs"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Revision: drive 1.00, image 1.00 (the same: flashing again only repairs)\nFlashing ..\nOk:Flash Complete!!\nOK:Verify ok!!\n");
    EXPECT_THAT(run.err, HasSubstr("the trace file /dev/full could not be written: No space left on device"));

    run = RunCli("--json --simulate=unknown-model --trace /dev/full flash --yes " + Path("demo.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    const nlohmann::json answer = nlohmann::json::parse(run.out);
    EXPECT_EQ(answer["kind"], "refused");
    EXPECT_THAT(answer["trace_error"].get<std::string>(), HasSubstr("No space left on device"));
}

}  // namespace
}  // namespace keluflash::test
