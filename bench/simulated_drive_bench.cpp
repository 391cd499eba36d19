// How fast the simulated drive runs the long parts of an update through
// TAtapi: the tests flash it many times, so a 120 s ready wait and a full
// read-back must cost little real time.
#include <benchmark/benchmark.h>

#include <vector>

#include "drive/atapi.h"
#include "drive/sim/simulated_windows_machine.h"
#include "image/image_writer.h"

namespace keluflash {
namespace {

class QuietUi final : public UserInterface {
public:
    void PumpMessage() override {}
    void ProcessMessages() override {}
    int ShowMessage(const std::string&, const std::string&, unsigned) override { return kIdOk; }
};

// Method A's blocks and trigger for the demo firmware.
void DownloadDemo(TAtapi& atapi, const PlainImage& blocks, uint16_t checksum) {
    std::vector<uint8_t> buffer(65536);
    for (uint8_t i = 0; i < blocks.size(); ++i) {
        std::fill(buffer.begin(), buffer.end(), 0);
        std::copy(blocks[i].begin(), blocks[i].end(), buffer.begin());
        atapi.VendorWriteBlock(buffer.data(), 5, i, i == 1 || i == 2 ? 0xF000 : 0xFFFE, 0);
    }
    atapi.VendorWriteBlock(nullptr, 4, static_cast<uint8_t>(blocks.size() + 0xE0), 0, checksum);
}

// The whole 120 s ready wait of a drive that never becomes ready.
void BM_NeverReadyWait(benchmark::State& state) {
    const PlainImage blocks = BuildDemoImageBlocks(DemoFirmwareRecipe{});
    const uint16_t checksum = BuildSingleImageFile(blocks).header.Checksum();
    for (auto _ : state) {
        QuietUi ui;
        SimulatedWindowsMachine machine(FindSimulatedProfile("never-ready")->config, ui);
        TAtapi atapi(machine.DriveTransport(), machine.Ui());
        DownloadDemo(atapi, blocks, checksum);
        const uint32_t start = machine.Clock().TickCount();
        int64_t polls = 0;
        while (atapi.TestUnitReady() != kStatusGood && (machine.Clock().TickCount() - start) / 1000 <= 120) ++polls;
        state.counters["polls"] = static_cast<double>(polls);
    }
}
BENCHMARK(BM_NeverReadyWait)->Unit(benchmark::kMillisecond);

// Download, ready wait and the 2016 reads of a read-back.
void BM_FlashAndReadBack(benchmark::State& state) {
    const PlainImage blocks = BuildDemoImageBlocks(DemoFirmwareRecipe{});
    const uint16_t checksum = BuildSingleImageFile(blocks).header.Checksum();
    std::vector<uint8_t> buffer(256);
    for (auto _ : state) {
        QuietUi ui;
        SimulatedWindowsMachine machine({}, ui);
        TAtapi atapi(machine.DriveTransport(), machine.Ui());
        DownloadDemo(atapi, blocks, checksum);
        while (atapi.TestUnitReady() != kStatusGood) {
        }
        uint32_t sum = 0;
        for (uint8_t bank = 0; bank < blocks.size(); ++bank) {
            for (uint32_t a = 0; a < (bank == 1 || bank == 2 ? 0xF000u : 0x10000u); a += 256) {
                atapi.VendorReadMemory(buffer.data(), bank, static_cast<uint16_t>(a));
                for (const uint8_t b : buffer) sum += b;
            }
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_FlashAndReadBack)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace keluflash
