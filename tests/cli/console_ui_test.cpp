#include "app/cli/console_ui.h"

#include <gtest/gtest.h>

#include <sstream>

namespace keluflash::cli {
namespace {

TEST(ConsoleUi, MessageBoxesGoToTheConsoleAndQuestionsNeedAPerson) {
    struct Case {
        const char* name;
        unsigned flags;
        bool interactive;
        const char* typed;
        int answer;
    };
    const Case cases[] = {
        {"OK box", kMbOk | kMbIconStop, false, "", kIdOk},
        {"question without a terminal", kMbOkCancel | kMbIconWarning, false, "y\n", kIdCancel},
        {"question answered yes", kMbOkCancel, true, "y\n", kIdOk},
        {"question answered with Enter", kMbOkCancel, true, "\n", kIdCancel},
        {"question answered no", kMbOkCancel, true, "n\n", kIdCancel},
        {"question at end of input", kMbOkCancel, true, "", kIdCancel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.typed);
        std::ostringstream out;
        ConsoleUi ui(in, out, c.interactive);
        EXPECT_EQ(ui.ShowMessage("Reboot this computer right now ?\n", "KELUFlash", c.flags), c.answer);
        EXPECT_EQ(out.str().rfind("KELUFlash: Reboot this computer right now ?\n", 0), 0u) << out.str();
    }
}

}  // namespace
}  // namespace keluflash::cli
