#pragma once
// The tests' user interface: it records every message box and counts the
// message pumping, and lets a test act in the middle of a wait.
#include <functional>
#include <string>
#include <vector>

#include "drive/host_ports.h"

namespace keluflash::test {

struct MessageBoxCall {
    std::string text;
    std::string caption;
    unsigned flags = 0;
};

// The recording for any interface derived from UserInterface (the window's
// View gets it too). Pumping one message runs `onPump`, processing the queue
// runs `onProcessMessages`; a message box answers `answer`, Cancel unless the
// test says otherwise, so no question is accepted by default.
template <class Interface>
class RecordingUiOf : public Interface {
public:
    void PumpMessage() override {
        ++pumps;
        if (onPump) onPump();
    }
    void ProcessMessages() override {
        ++processed;
        if (onProcessMessages) onProcessMessages();
    }
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        if (onShowMessage) onShowMessage(boxes.back());
        return answer;
    }

    std::function<void()> onPump;
    std::function<void(const MessageBoxCall&)> onShowMessage;
    std::function<void()> onProcessMessages;
    int answer = kIdCancel;
    int pumps = 0;
    int processed = 0;
    std::vector<MessageBoxCall> boxes;
};

using RecordingUi = RecordingUiOf<UserInterface>;

}  // namespace keluflash::test
