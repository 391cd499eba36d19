#pragma once
// What the simulated ASPI layer and pass-through ports saw, for tests.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keluflash {

struct SimulatedWindowsCounters {
    size_t libraryLoads = 0;                 // LoadLibrary calls that gave a library
    size_t librariesLoaded = 0;              // still loaded now
    std::vector<std::string> loadPaths;      // every path LoadLibrary was asked for
    size_t probes = 0;                       // SC_GET_DEV_TYPE requests
    size_t aspiCommands = 0;                 // SC_EXEC_SCSI_CMD requests
    size_t aborts = 0;                       // SC_ABORT_SRB requests
    size_t abortsOfPending = 0;              // ... that named the pending request
    size_t eventsCreated = 0;
    size_t eventsOpen = 0;                   // created and not yet closed
    size_t waits = 0;                        // AspiEvent::Wait calls
    size_t passThroughCalls = 0;
    size_t handlesOpen = 0;
    std::vector<char> lettersOpened;         // every successful Open, in order
    // Every FSCTL on a volume, in order.
    struct VolumeControlCall {
        char letter = 0;
        uint32_t code = 0;
        uint32_t error = 0;                  // what it failed with; 0 when done
        size_t commandsBefore = 0;           // how many commands the drive had in its record then
        bool operator==(const VolumeControlCall&) const = default;
    };
    std::vector<VolumeControlCall> volumeControls;
};

}  // namespace keluflash
