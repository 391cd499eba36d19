#pragma once
// The tests' progress bar as the read-back drives it: every range and every
// position, in order.
#include <utility>
#include <vector>

#include "flash/progress_bar.h"

namespace keluflash::test {

class RecordingProgressBar : public ProgressBar {
public:
    void SetProgressRange(int min, int max) override { ranges.push_back({min, max}); }
    void SetProgressPosition(int position) override { positions.push_back(position); }
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
};

}  // namespace keluflash::test
