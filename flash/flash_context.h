#pragma once
// What every step of an update works with. The header, selection and image
// bytes are the ones the checks passed: the file as the open read it, once,
// so neither an open in the middle of the update nor a change to the file on
// disk can move the download to other bytes.
#include <cstdint>
#include <string>

#include "drive/atapi.h"
#include "drive/host_ports.h"
#include "flash/progress_bar.h"
#include "flash/update_report.h"
#include "image/image_copy.h"
#include "image/image_header.h"
#include "image/operator_report.h"

namespace keluflash {

struct FlashContext {
    TAtapi& atapi;
    Clock& clock;
    UserInterface& ui;          // ProcessMessages in the waits
    OperatorReport& report;     // AddMessage, SetProgress
    ProgressBar& bar;           // the read-back's own use of the bar
    const ImageHeader& header;
    const ImageSelection& selection;
    const ImageCopy& image;     // the file as the open read it
    UpdateReport& record;       // what the steps did to the drive
};

}  // namespace keluflash
