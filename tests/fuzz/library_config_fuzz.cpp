// The configuration text an application hands C_Initialize (pReserved), then the usual road.
#include <string>

#include "support/library_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated by std::string
    inproc::InstallToken(inproc::SeededToken());
    inproc::RunApplicationRoad(text.c_str());
    return 0;
}
