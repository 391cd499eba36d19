// A whole update from the Start click (8-block image, validation, checks,
// patch-area sync, download, trigger, ready wait, read-back) against the
// simulated drive on the virtual clock, beside merely reading and
// descrambling the same image. The difference is what the update itself
// costs in CPU: the drive's waits take no real time here.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "app/form1.h"
#include "app/recording_system_services.h"
#include "app/silent_view.h"
#include "drive/sim/simulated_windows_machine.h"
#include "image/image_blocks.h"
#include "image/image_writer.h"

namespace keluflash {
namespace {

// The demo image for the default simulated drive, in a file of its own for
// the length of one benchmark.
class DemoImageFile {
public:
    explicit DemoImageFile(bool scramble) {
        m_path = (std::filesystem::temp_directory_path() /
                  ("keluflash-bench-" + std::to_string(::getpid()) + (scramble ? "-s" : "-p") + ".kfs"))
                     .string();
        ImageWriteOptions options;
        options.scramble = scramble;
        const ImageWriteResult built = BuildDemoFirmware({}, options);
        std::string error;
        m_ok = built.ok && SaveImageFile(m_path, built.bytes, error);
        m_header = built.header;
    }
    ~DemoImageFile() { std::filesystem::remove(m_path); }
    DemoImageFile(const DemoImageFile&) = delete;
    DemoImageFile& operator=(const DemoImageFile&) = delete;
    bool Ok() const { return m_ok; }
    const std::string& Path() const { return m_path; }
    const ImageHeader& Header() const { return m_header; }

private:
    std::string m_path;
    ImageHeader m_header;
    bool m_ok = false;
};

void WholeUpdate(benchmark::State& state) {
    const DemoImageFile image(state.range(0) != 0);
    if (!image.Ok()) {
        state.SkipWithError("cannot write the demo image");
        return;
    }
    SimulatedMachineConfig config;
    // The drive keeps no copy of what it is sent: the benchmark measures the
    // update, not the simulator's log.
    config.drives[0].recordDataOut = false;
    double commands = 0;
    double virtualSeconds = 0;
    for (auto _ : state) {
        SilentView view;
        RecordingSystemServices system;
        SimulatedWindowsMachine machine(config, view);
        TAtapi atapi(machine.DriveTransport(), machine.Ui());
        TForm1 form(atapi, machine.Clock(), system, view);
        form.SetOpenDialogFileName(image.Path());
        form.OpenChosenFile();
        form.BitBtn2Click();
        if (form.LastUpdateResult() != UpdateResult::Verified) {
            state.SkipWithError("the update did not verify");
            return;
        }
        commands += static_cast<double>(machine.Drive(0).Commands().size());
        virtualSeconds += static_cast<double>(machine.Clock().Now()) / 1000.0;
    }
    state.counters["commands"] = benchmark::Counter(commands, benchmark::Counter::kAvgIterations);
    state.counters["drive_seconds"] = benchmark::Counter(virtualSeconds, benchmark::Counter::kAvgIterations);
}
BENCHMARK(WholeUpdate)->ArgName("scrambled")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void ReadAndDescramble(benchmark::State& state) {
    const DemoImageFile image(state.range(0) != 0);
    std::optional<BlockBuffer> buffer = BlockBuffer::Allocate();
    if (!image.Ok() || !buffer) {
        state.SkipWithError("cannot write the demo image");
        return;
    }
    const ImageHeader& header = image.Header();
    for (auto _ : state) {
        ImageCopy copy;
        copy.Load(image.Path());
        ImageBlocks blocks(copy, header, kHeaderSize);
        for (int i = 0; i < header.BlockCount(); ++i) {
            if (!blocks.ReadBlock(i, *buffer)) {
                state.SkipWithError("short image");
                return;
            }
            benchmark::DoNotOptimize(buffer->Data());
        }
    }
}
BENCHMARK(ReadAndDescramble)->ArgName("scrambled")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace keluflash
