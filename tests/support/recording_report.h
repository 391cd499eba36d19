#pragma once
// The tests' operator report and progress bar: every line and every value,
// in order.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "image/operator_report.h"

namespace keluflash::test {

class RecordingReport : public OperatorReport {
public:
    void AddMessage(std::string_view text) override { messages.emplace_back(text); }
    void SetProgress(int value) override { progress.push_back(value); }
    std::vector<std::string> messages;
    std::vector<int> progress;
};

}  // namespace keluflash::test
