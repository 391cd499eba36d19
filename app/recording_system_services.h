#pragma once
// A SystemServices that only records what it is asked. Tests, the demo, the
// demo window and the CLI without --reboot use it: nothing here ever restarts
// the machine or holds anything off.
#include <string>
#include <vector>

#include "app/system_services.h"

namespace keluflash {

class RecordingSystemServices final : public SystemServices {
public:
    void RequestRestart() override {
        ++m_restartRequests;
        m_calls.push_back("restart");
    }
    void UpdateBegins() override { m_calls.push_back("update begins"); }
    void UpdateEnds() override { m_calls.push_back("update ends"); }
    void DriveWriteBegins() override { m_calls.push_back("drive write begins"); }
    void DriveWriteEnds() override { m_calls.push_back("drive write ends"); }

    int RestartRequests() const { return m_restartRequests; }
    // Every request, in order.
    const std::vector<std::string>& Calls() const { return m_calls; }

private:
    int m_restartRequests = 0;
    std::vector<std::string> m_calls;
};

}  // namespace keluflash
