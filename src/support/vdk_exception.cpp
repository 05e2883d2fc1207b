#include "support/vdk_exception.h"

#include <cstdint>

namespace vdk {

namespace {

[[noreturn]] void ThrowTooBig(uint32_t size, const char* typeName)
{
    throw Exception("Size " + std::to_string(size) + " too big for " + typeName);
}

}  // namespace

uint16_t SizeToUShortDynamic(uint32_t size)
{
    if (size > UINT16_MAX)
        ThrowTooBig(size, "unsigned short");
    return static_cast<uint16_t>(size);
}

int32_t SizeToIntDynamic(uint32_t size)
{
    if (size > static_cast<uint32_t>(INT32_MAX))
        ThrowTooBig(size, "int");
    return static_cast<int32_t>(size);
}

}  // namespace vdk
