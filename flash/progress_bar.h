#pragma once
// The progress bar as the read-back uses it: it sets the bar's range and
// position itself instead of going through SetProgress, and the bar is
// repainted after every position change. The update also says which step it
// has reached, for front ends that label the bar; the window does not.
#include <cstdint>

namespace keluflash {

// The steps of an update, in the order they run. The download is one of the
// two methods; method B follows method A only when A failed.
enum class FlashPhase {
    Checks,           // the image and the drive agree (INQUIRY only)
    PatchArea,        // the drive's patch area copied into the image's
    DownloadMethodA,  // vendor block writes
    DownloadMethodB,  // WRITE BUFFER
    Programming,      // the trigger, and the drive programming its flash
    Verification,     // the flash read back and summed
};

class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void SetProgressRange(int min, int max) = 0;
    virtual void SetProgressPosition(int position) = 0;
    virtual void PhaseStarted(FlashPhase) {}
    // The ready wait after the trigger, once per whole second: the bar stands
    // still meanwhile, for up to `limitSeconds`.
    virtual void WaitingForDrive(uint32_t /*elapsedSeconds*/, uint32_t /*limitSeconds*/) {}
};

}  // namespace keluflash
