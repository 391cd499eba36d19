// keluflash-cli --json as scripts rely on it: every run prints exactly one
// JSON document on standard output, a failure with "error" and "kind", and the
// exit code that goes with the kind. Always on simulated drives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "image/image_writer.h"
#include "tests/cli/cli_run.h"

namespace keluflash::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class JsonContractTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::path(testing::TempDir()) /
                ("keluflash-json-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir / "folder");
        ASSERT_EQ(RunCli("--simulate demo-image " + Path("demo.kfs")).exitCode, 0);
        std::filesystem::copy_file(Path("demo.kfs"), Path("demo.bin"));
        std::ofstream(Path("empty.kfs")).close();
        std::ofstream(Path("block.bin")) << "\x02\x01";
        ASSERT_EQ(RunCli("pack --no-pad " + Path("short.kfs") + " --block " + Path("block.bin")).exitCode, 0);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    // The run's standard output as its one JSON document.
    static nlohmann::json Document(const CliRun& run) {
        nlohmann::json document;
        EXPECT_NO_THROW(document = nlohmann::json::parse(run.out)) << "stdout: " << run.out << "\nstderr: " << run.err;
        return document;
    }

    std::filesystem::path m_dir;
};

TEST_F(JsonContractTest, EveryFailureIsOneObjectWithErrorAndKind) {
    const struct {
        std::string arguments;
        std::string kind;
        std::string errorPart;
    } rows[] = {
        {"", "usage", ""},
        {"flsh", "usage", "did you mean \"flash\""},
        {"--simulate=no-such-machine list", "usage", "--simulate=NAME takes one of"},
        {"--device '' --simulate list", "usage", "empty"},
        {"--simulate list surplus", "usage", ""},
        {"--simulate dump --banks 0 " + Path("x.bin"), "usage", ""},
        {"demo-image " + Path("real.kfs"), "usage", "simulated drives only"},
        {"--simulate --device 5 flash --yes " + Path("demo.kfs"), "drive", "no drive at index 5"},
        {"--simulate --device /dev/sg9 verify " + Path("demo.kfs"), "drive", "no optical drive at /dev/sg9"},
        {"--simulate=no-aspi flash --yes " + Path("demo.kfs"), "drive", "no optical drive found"},
        {"--simulate flash " + Path("demo.kfs"), "refused", "pass --yes"},
        {"--simulate=unknown-model flash --yes " + Path("demo.kfs"), "refused", "(4)"},
        {"--simulate=unknown-model flash --dry-run " + Path("demo.kfs"), "refused", "(4)"},
        {"--simulate flash --yes " + Path("missing.kfs"), "file", "No such file or directory"},
        {"--simulate flash --yes " + Path("folder"), "file", "Is a directory"},
        {"--simulate flash --yes " + Path("empty.kfs"), "file", "is empty"},  // as info says it
        {"--simulate=never-ready flash --yes " + Path("demo.kfs"), "failed",
         "may still be programming; leave it powered, do not restart and do not start another update"},
        {"--simulate=lost-drive flash --yes " + Path("demo.kfs"), "failed",
         "never told to program them: it programmed nothing"},
        {"--simulate verify " + Path("demo.kfs"), "failed", "does not match"},
        {"--simulate verify " + Path("missing.kfs"), "file", "No such file or directory"},
        {"--simulate dump " + Path("demo.kfs"), "file", "it exists (pass --force"},
        {"--simulate dump " + Path("no-folder/x.bin"), "file", "No such file or directory"},
        {"--simulate demo-image " + Path("demo.kfs"), "file", "it exists (pass --force"},
        {"--simulate demo-image " + Path("folder"), "file", "Is a directory"},
        {"info " + Path("missing.kfs"), "file", "No such file or directory"},
        {"info /dev/null", "file", "not a regular file"},
        {"info " + Path("folder"), "file", "Is a directory"},
        {"info " + Path("empty.kfs"), "file", "is empty"},
        {"info " + Path("demo.bin"), "file", "ends in .kfs"},
        {"info " + Path("short.kfs"), "file", "first 65536 bytes of image 0 are not all in the file"},
        {"pack " + Path("out.kfs") + " --block " + Path("missing.bin"), "file", "No such file or directory"},
        {"pack " + Path("out.kfs") + " --multi 2 --block " + Path("block.bin"), "refused", "do not make images"},
        {"pack " + Path("demo.kfs") + " --block " + Path("block.bin"), "file", "it exists"},
        {"pack " + Path("out.kfs"), "usage", ""},
        {"--simulate --trace " + Path("demo.kfs") + " flash --yes " + Path("demo.kfs"), "file", "which this command uses"},
        {"--simulate --trace " + Path("folder") + " list", "file", "Is a directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        const CliRun run = RunCli("--json " + row.arguments);
        const nlohmann::json document = Document(run);
        ASSERT_TRUE(document.is_object());
        EXPECT_EQ(document.value("kind", ""), row.kind) << document.dump();
        ASSERT_TRUE(document.contains("error") && document["error"].is_string()) << document.dump();
        EXPECT_THAT(document["error"].get<std::string>(), HasSubstr(row.errorPart));
        EXPECT_EQ(run.exitCode, row.kind == "usage" ? 2 : 1);
    }
}

// The document or the lines that cannot be written are a failure, said on
// standard error; --json=true is JSON mode from the first word on.
TEST_F(JsonContractTest, OutputThatCannotBeWrittenFailsAndJsonTrueIsJson) {
    for (const char* arguments : {"--json --simulate list", "--simulate list"}) {
        SCOPED_TRACE(arguments);
        const std::string err = Path("full.err");
        const int status = std::system((std::string(KELUFLASH_CLI_PROGRAM) + " " + arguments + " >/dev/full 2>" +
                                        Quoted(err) + " </dev/null")
                                           .c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_THAT(ReadFile(err), HasSubstr("could not be written"));
    }
    const CliRun run = RunCli("--json=true --simulate no-such-command");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Document(run)["kind"], "usage");
}

TEST_F(JsonContractTest, EverySuccessIsOneObjectWithItsFields) {
    const struct {
        std::string arguments;
        std::vector<std::string> fields;
    } rows[] = {
        {"--simulate list", {"drives", "unavailable"}},
        {"info " + Path("demo.kfs"), {"file", "valid", "flashable", "images", "selected_image"}},
        {"pack " + Path("new.kfs") + " --block " + Path("block.bin"), {"file", "bytes", "checksum", "notes"}},
        {"--simulate flash --dry-run " + Path("demo.kfs"), {"file", "drive", "result", "written", "messages"}},
        {"--simulate=method-b flash --yes " + Path("demo.kfs"),
         {"file", "drive", "result", "method", "fallback", "written", "verification", "summary", "messages"}},
        {"--simulate dump --banks 1 " + Path("flash.bin"), {"file", "drive", "banks", "bytes", "checksum", "messages"}},
        {"--simulate demo-image " + Path("new-demo.kfs"), {"file", "drive", "block_count", "checksum"}},
        {"--version", {"version"}},
        {"flash --help", {"help"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        const CliRun run = RunCli("--json " + row.arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const nlohmann::json document = Document(run);
        EXPECT_FALSE(document.contains("error")) << document.dump();
        for (const std::string& field : row.fields) EXPECT_TRUE(document.contains(field)) << field;
        // Every document that touched a drive names it the same way.
        if (document.contains("drive")) {
            const nlohmann::json& drive = document["drive"];
            ASSERT_TRUE(drive.is_object()) << drive.dump();
            EXPECT_EQ(drive["path"], "/dev/sg0");
            EXPECT_EQ(drive["index"], 0);
            EXPECT_EQ(drive["identification"], "KELU ZXR-0131K");
            EXPECT_EQ(drive["identification_raw"], "KELU    ZXR-0131K       ");
            EXPECT_EQ(drive["revision"], "1.00");
        }
    }
    const nlohmann::json flashed = Document(RunCli("--json --simulate=method-b flash --yes " + Path("demo.kfs")));
    EXPECT_EQ(flashed["result"], "verified");
    EXPECT_EQ(flashed["method"], "B");
    EXPECT_EQ(flashed["fallback"], true);
    EXPECT_EQ(flashed["written"], true);
    EXPECT_EQ(flashed["verification"], "passed");
    const nlohmann::json refused = Document(RunCli("--json --simulate=unknown-model flash --yes " + Path("demo.kfs")));
    EXPECT_EQ(refused["written"], false);
    EXPECT_EQ(refused["method"], nullptr);
    EXPECT_EQ(refused["messages"], (nlohmann::json{"Revision: drive 2.10, image 1.00 (older: a downgrade)",
                                                   "Err:The firmware is not support this device!!(4)"}));
}

// File names and model text are bytes: what is not UTF-8 is escaped as \xNN
// in JSON, and a terminal sees control characters escaped too.
TEST_F(JsonContractTest, BytesThatAreNotUtf8AreEscaped) {
    DemoFirmwareRecipe recipe;
    recipe.product = "ZXR\xff\x1b[2J";
    const ImageWriteResult image = BuildDemoFirmware(recipe);
    ASSERT_TRUE(image.ok) << image.error;
    const std::string name = Path("fw-\xe9\xff.kfs");
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(image.bytes.data()),
                                                static_cast<std::streamsize>(image.bytes.size()));

    CliRun run = RunCli("--json info " + Quoted(name));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    nlohmann::json info = Document(run);
    EXPECT_EQ(info["file"], Path("fw-\\xe9\\xff.kfs"));
    EXPECT_THAT(info["images"][0]["model"].get<std::string>(), HasSubstr("ZXR\\xff\x1b[2J "));

    run = RunCli("info " + Quoted(name));
    EXPECT_THAT(run.out, HasSubstr("ZXR\\xff\\x1b[2J"));
    EXPECT_THAT(run.out, Not(HasSubstr("\x1b")));

    run = RunCli("--json --simulate flash --yes " + Quoted(Path("missing-\xff.kfs")));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(Document(run)["error"].get<std::string>(), HasSubstr("missing-\\xff.kfs"));
}

TEST_F(JsonContractTest, ParsingTraps) {
    // --simulate never takes the next word as a machine's name.
    CliRun run = RunCli("flash --simulate " + Path("demo.kfs") + " --yes");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("OK:Verify ok!!"));
    // An empty --device (an unset $DEV) picks no drive.
    run = RunCli("--simulate --device '' flash --yes " + Path("demo.kfs"));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    run = RunCli("--simulate dupm x");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("unknown command \"dupm\"; did you mean \"dump\"?"));
    run = RunCli("--version");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "keluflash-cli " + std::string(KELUFLASH_VERSION) + "\n");
}

}  // namespace
}  // namespace keluflash::test
