#pragma once
// The system's restart request. Tests and the demo use a recording fake;
// only the real programs ever pass a back end that restarts the machine.
namespace keluflash {

class SystemServices {
public:
    virtual ~SystemServices() = default;
    // Enables the right to restart and asks for a restart; a refusal returns
    // silently.
    virtual void RequestRestart() = 0;
};

}  // namespace keluflash
