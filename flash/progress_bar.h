#pragma once
// The progress bar as the read-back uses it: it sets the bar's range and
// position itself instead of going through SetProgress, and the bar is
// repainted after every position change.
namespace keluflash {

class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void SetProgressRange(int min, int max) = 0;
    virtual void SetProgressPosition(int position) = 0;
};

}  // namespace keluflash
