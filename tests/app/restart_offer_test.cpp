// The restart offer after a verified flash: only OK asks the system.
#include <gtest/gtest.h>

#include "app/recording_system_services.h"
#include "app/restart_offer.h"
#include "tests/support/recording_ui.h"

namespace keluflash::test {
namespace {

TEST(OfferRestartTest, RestartsOnlyOnOk) {
    for (const int answer : {kIdOk, kIdCancel}) {
        RecordingUi ui;
        ui.answer = answer;
        RecordingSystemServices system;
        OfferRestart(ui, system);
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, "Reboot this computer right now ?");
        EXPECT_EQ(ui.boxes[0].caption, "Warning");
        EXPECT_EQ(ui.boxes[0].flags, 0x1031u);
        EXPECT_EQ(system.RestartRequests(), answer == kIdOk ? 1 : 0);
    }
}

}  // namespace
}  // namespace keluflash::test
