// Arbitrary bytes as a trace for --simulate=replay:TRACE: the reader refuses
// them or reads a session, and a program run over whatever it read (the
// scan, then commands of every kind to every drive, in and out, short and
// 64 KiB long) must neither crash nor read or write outside its buffers,
// whatever the recording claims (drives that are not there, data longer
// than a program asks for, sense of any length). A trace the reader took
// never holds more data in than its own command's length.
#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "app/cli/command_trace.h"
#include "drive/atapi.h"
#include "drive/sim/replay_transport.h"
#include "fuzz/fuzz_folder.h"

namespace {

class NullUi final : public keluflash::UserInterface {
public:
    void PumpMessage() override {}
    void ProcessMessages() override {}
    int ShowMessage(const std::string&, const std::string&, unsigned) override { return keluflash::kIdCancel; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace keluflash;
    static const fuzz::FuzzFolder folder("keluflash-trace-fuzz-");
    const std::string file = folder.File("session.jsonl");
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    RecordedSession session;
    std::string error;
    if (!cli::ReadTrace(file, session, error)) {
        if (error.empty()) __builtin_trap();  // a refusal always says why
        return 0;
    }
    for (const RecordedExchange& exchange : session.commands) {
        if (exchange.direction != kDirectionIn || exchange.length == 0) continue;
        if (exchange.dataIn.size() > exchange.length) __builtin_trap();
    }
    ReplayClock clock(session.startTick);
    ReplayTransport transport(std::move(session), clock);
    NullUi ui;
    TAtapi atapi(transport, ui);
    std::vector<uint8_t> buffer(65536 + 64, 0);
    for (int i = 0; i < atapi.DeviceCount(); ++i) {
        atapi.SelectDevice(atapi.Device(i));
        (void)transport.DevicePath(atapi.Device(i));
        atapi.Inquiry(buffer.data());
        atapi.TestUnitReady();
        atapi.VendorReadMemory(buffer.data(), 0, 0x400);
        atapi.VendorReadPatchInfo(buffer.data());
        atapi.VendorWriteMemory(buffer.data(), 0, 0x1000, 4);
        atapi.RequestSense(buffer.data());
    }
    // Past the drive list: no drive selected at all.
    atapi.SelectDevice(DeviceEntry{});
    atapi.Inquiry(buffer.data());
    if (transport.Replayed() > transport.Recorded()) __builtin_trap();
    return 0;
}
