#include "support/safe_buffer.h"

#include <cstdlib>

namespace vdk {

SafeBuffer::SafeBuffer(SafeBuffer&& other) : BufferDynamic()
{
    Adopt(other.Data(), other.Size());
    other.Adopt(nullptr, 0);
}

SafeBuffer::~SafeBuffer()
{
    WipeData();
}

SafeBuffer& SafeBuffer::operator=(const SafeBuffer& other)
{
    BufferDynamic::operator=(static_cast<const tru::Buffer&>(other));
    return *this;
}

SafeBuffer& SafeBuffer::operator=(const tru::Buffer& other)
{
    BufferDynamic::operator=(other);
    return *this;
}

SafeBuffer& SafeBuffer::operator=(SafeBuffer&& other)
{
    if (this != &other) {
        Destroy();
        Adopt(other.Data(), other.Size());
        other.Adopt(nullptr, 0);
    }
    return *this;
}

void SafeBuffer::WipeData()
{
    if (Data() && Size() != 0)
        Wipe(Size(), Data());
}

void SafeBuffer::Clear()
{
    WipeData();
    tru::TResult rc = BufferDynamic::Alloc(0);
    if (rc != tru::SUCCESS)
        throw tru::Exception(rc);
}

void SafeBuffer::FillPseudoRandFast()
{
    const uint32_t words = Size() / 4;
    const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Data()));
    uint32_t r = static_cast<uint32_t>(std::rand());
    for (uint32_t i = 0; i < words; ++i) {
        const uint32_t word = r ^ address ^ ((i << 8) | (i << 24));
        std::memcpy(Data() + 4 * i, &word, 4);
        if (i % 4 == 0)
            r = static_cast<uint32_t>(std::rand());
    }
}

tru::TResult SafeBuffer::Alloc(uint32_t size)
{
    WipeData();
    return BufferDynamic::Alloc(size);
}

tru::TResult SafeBuffer::Realloc(uint32_t size)
{
    if (size == 0)
        return Destroy();
    if (size == Size())
        return tru::SUCCESS;
    void* storage = std::malloc(size);
    if (!storage)
        return tru::ERROR_MEM;
    const uint32_t kept = size < Size() ? size : Size();
    if (kept != 0)
        std::memcpy(storage, Data(), kept);
    Destroy();
    Adopt(storage, size);
    return tru::SUCCESS;
}

tru::TResult SafeBuffer::Destroy()
{
    WipeData();
    return BufferDynamic::Destroy();
}

}  // namespace vdk
