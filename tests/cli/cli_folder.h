#pragma once
// A folder of its own for one CLI test, named after the test, with image
// files of given identities written into it.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "image/image_writer.h"
#include "tests/cli/cli_run.h"

namespace keluflash::test {

class CliFolder {
public:
    explicit CliFolder(const std::string& kind) {
        m_dir = std::filesystem::path(testing::TempDir()) /
                ("keluflash-" + kind + "-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    ~CliFolder() { std::filesystem::remove_all(m_dir); }
    CliFolder(const CliFolder&) = delete;
    CliFolder& operator=(const CliFolder&) = delete;

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }
    // The demo firmware of `recipe` as the file `name`; its bytes.
    std::vector<uint8_t> WriteImage(const std::string& name, const DemoFirmwareRecipe& recipe = {}) const {
        const ImageWriteResult built = BuildDemoFirmware(recipe);
        std::string error;
        EXPECT_TRUE(built.ok && SaveImageFile(Path(name), built.bytes, error)) << name << ": " << error;
        return built.bytes;
    }
    void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::string error;
        EXPECT_TRUE(SaveImageFile(Path(name), bytes, error)) << name << ": " << error;
    }
    // A file of JSON lines, parsed.
    std::vector<nlohmann::json> JsonLines(const std::string& name) const {
        std::vector<nlohmann::json> lines;
        std::istringstream text(ReadFile(Path(name)));
        for (std::string line; std::getline(text, line);) lines.push_back(nlohmann::json::parse(line));
        return lines;
    }

private:
    std::filesystem::path m_dir;
};

// The run's standard output as its one JSON document.
inline nlohmann::json Document(const CliRun& run) {
    nlohmann::json document;
    EXPECT_NO_THROW(document = nlohmann::json::parse(run.out)) << "stdout: " << run.out << "\nstderr: " << run.err;
    return document;
}

inline DemoFirmwareRecipe Revision(const std::string& revision) {
    DemoFirmwareRecipe recipe;
    recipe.revision = revision;
    return recipe;
}

}  // namespace keluflash::test
