#pragma once
// The two reporting operations every step uses: a message line for the
// operator and a progress position. The main window implements them.
#include <string_view>

namespace keluflash {

class OperatorReport {
public:
    virtual ~OperatorReport() = default;
    virtual void AddMessage(std::string_view text) = 0;
    virtual void SetProgress(int value) = 0;
};

}  // namespace keluflash
