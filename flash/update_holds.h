#pragma once
// What an update asks of the system to hold off whatever would cut it short.
// The window's and the command line's system services implement it; tests
// and the demo record it.
namespace keluflash {

class UpdateHolds {
public:
    virtual ~UpdateHolds() = default;
    // From Start to the end of the verification the machine must neither
    // sleep nor shut down. A system that offers no way to hold them off lets
    // the update go on without, silently.
    virtual void UpdateBegins() = 0;
    virtual void UpdateEnds() = 0;
    // From the first command that may write to the drive to the end of the
    // ready wait a half-written drive must not be left behind: whatever would
    // end the program then waits (the command line holds back its signals).
    virtual void DriveWriteBegins() = 0;
    virtual void DriveWriteEnds() = 0;
};

}  // namespace keluflash
