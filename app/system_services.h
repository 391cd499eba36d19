#pragma once
// The system services an update asks for: the restart request, and holding
// off what would cut an update short. Tests and the demo use a recording
// fake; only the real programs ever pass a back end that restarts the
// machine.
namespace keluflash {

class SystemServices {
public:
    virtual ~SystemServices() = default;
    // Enables the right to restart and asks for a restart; a refusal returns
    // silently.
    virtual void RequestRestart() = 0;

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
