#include "tests/app/window_fixture.h"

namespace keluflash::test {

WindowBench::WindowBench(SimulatedMachineConfig config)
    : bench(std::move(config)), form(bench.atapi, bench.Clock(), system, view) {
    view.form = &form;
    form.FormCreate();
}

WindowBench::WindowBench(SimulatedDriveConfig drive, bool ntFamily) : WindowBench([&] {
    SimulatedMachineConfig config;
    config.platform = ntFamily ? SimulatedPlatform::WindowsNt : SimulatedPlatform::Windows9x;
    config.drives = {std::move(drive)};
    return config;
}()) {}

void WindowBench::Open(const std::string& path) {
    view.dialogAnswer = path;
    form.BitBtn1Click();
}

}  // namespace keluflash::test
