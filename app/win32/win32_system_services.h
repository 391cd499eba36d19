#pragma once
// The real restart: enable the right to shut the machine down and ask for a
// restart. Only keluflash.exe passes it to the window; every test and demo
// uses the recording fake instead.
#include "app/system_services.h"

namespace keluflash {

class Win32SystemServices final : public SystemServices {
public:
    void RequestRestart() override;
};

}  // namespace keluflash
