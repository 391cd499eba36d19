#pragma once
// A file read as the open reads it, for tests that hand a file to the
// validation or the open.
#include <string>

#include "image/image_copy.h"

namespace keluflash::test {

inline ImageCopy LoadedCopy(const std::string& fileName) {
    ImageCopy copy;
    copy.Load(fileName);
    return copy;
}

}  // namespace keluflash::test
