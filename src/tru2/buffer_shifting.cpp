#include "tru2/buffer.h"

namespace tru {

TResult BufferShifting::Shift(uint32_t count)
{
    if (count > Size())
        return ERROR_SIZE;
    SetView(Data() ? Data() + count : nullptr, Size() - count);
    return SUCCESS;
}

TResult BufferShifting::GetAndShift(uint32_t count, void* output)
{
    if (count > Size())
        return ERROR_SIZE;
    if (!Data() && count != 0)
        return ERROR_PARAM;
    if (count != 0)
        std::memcpy(output, Data(), count);
    return Shift(count);
}

TResult BufferShifting::SetStringAndShift(const char* text)
{
    return SetBufferAndShift(static_cast<uint32_t>(std::strlen(text)), text);
}

TResult BufferShifting::SetBufferAndShift(const Buffer& buffer)
{
    return SetBufferAndShift(buffer.Size(), buffer.Data());
}

TResult BufferShifting::SetBufferAndShift(uint32_t count, const void* data)
{
    if (count > Size())
        return ERROR_SIZE;
    if (Data() && count != 0)
        std::memmove(Data(), data, count);
    return Shift(count);
}

}  // namespace tru
