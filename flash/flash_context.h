#pragma once
// What every step of an update works with. The header, selection and image
// bytes are the ones the update started with: the window keeps its own copies
// for the running update, so neither an open in the middle of it nor a change
// to the file on disk can move the download to other bytes.
#include <cstdint>
#include <string>

#include "drive/atapi.h"
#include "drive/host_ports.h"
#include "flash/progress_bar.h"
#include "image/image_copy.h"
#include "image/image_header.h"
#include "image/operator_report.h"

namespace keluflash {

struct FlashContext {
    TAtapi& atapi;
    Clock& clock;
    UserInterface& ui;          // ProcessMessages in the waits, the restart question
    OperatorReport& report;     // AddMessage, SetProgress
    ProgressBar& bar;           // the read-back's own use of the bar
    const ImageHeader& header;
    const ImageSelection& selection;
    const ImageCopy& image;     // the file as read once at Start
};

}  // namespace keluflash
