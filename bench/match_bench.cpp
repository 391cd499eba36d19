// keluflash-cli match over a folder of 200 image files on a simulated drive
// (the Linux machine behind the SG_IO transport, as --simulate runs it):
// validation, identification, the checks and the last look for each file.
// A folder of 200 downloaded files should answer within a second; this
// measures it rather than asserting it, so a slow machine fails no test.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

#include "app/form1.h"
#include "app/image_match.h"
#include "app/recording_system_services.h"
#include "app/silent_view.h"
#include "drive/sim/simulated_machine.h"
#include "image/image_writer.h"

namespace keluflash {
namespace {

constexpr int kFiles = 200;

// The folder of a download directory: full-size demo images, most for the
// drive at several revisions, some for other models or firmware ids, some
// damaged, and a few files that are no image at all.
class ImageFolder {
public:
    ImageFolder() {
        m_path = std::filesystem::temp_directory_path() / ("keluflash-match-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_path);
        const char* revisions[] = {"0.90", "1.00", "1.05", "1.10", "2.00"};
        for (int i = 0; i < kFiles && m_ok; ++i) {
            DemoFirmwareRecipe recipe;
            recipe.revision = revisions[i % 5];
            recipe.seed = static_cast<uint64_t>(i) + 1;
            if (i % 10 == 7) recipe.product = "ZXR-0150K";
            if (i % 10 == 8) recipe.firmwareId = {0x4B, 0x32};
            ImageWriteResult built = BuildDemoFirmware(recipe);
            if (i % 10 == 9) built.bytes[100] ^= 0xFF;  // a checksum error
            if (i % 50 == 49) built.bytes.assign(4096, 0x20);  // not an image
            std::string error;
            m_ok = built.ok && SaveImageFile((m_path / ("fw-" + std::to_string(i) + ".kfs")).string(), built.bytes, error);
        }
    }
    ~ImageFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ImageFolder(const ImageFolder&) = delete;
    ImageFolder& operator=(const ImageFolder&) = delete;
    bool Ok() const { return m_ok; }
    std::string Path() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
    bool m_ok = true;
};

void MatchTwoHundredFiles(benchmark::State& state) {
    const ImageFolder folder;
    if (!folder.Ok()) {
        state.SkipWithError("cannot write the image files");
        return;
    }
    double fits = 0;
    double commands = 0;
    for (auto _ : state) {
        SilentView view;
        RecordingSystemServices system;
        const std::unique_ptr<SimulatedMachine> machine = MakeSimulatedMachine(SimulatedMachineConfig{}, view);
        TAtapi atapi(machine->DriveTransport(), machine->Ui());
        TForm1 form(atapi, machine->Clock(), system, view);
        const MatchResult result = MatchFolder(form, folder.Path(), false);
        if (result.rows.size() != static_cast<size_t>(kFiles)) {
            state.SkipWithError("not every file was checked");
            return;
        }
        for (const MatchRow& row : result.rows) fits += row.verdict == MatchVerdict::Fits ? 1 : 0;
        commands += static_cast<double>(machine->Drive(0).Commands().size());
    }
    state.counters["files"] = kFiles;
    state.counters["fits"] = benchmark::Counter(fits, benchmark::Counter::kAvgIterations);
    state.counters["inquiries"] = benchmark::Counter(commands, benchmark::Counter::kAvgIterations);
}
BENCHMARK(MatchTwoHundredFiles)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace keluflash
