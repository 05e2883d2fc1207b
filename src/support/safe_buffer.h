#ifndef SUPPORT_SAFE_BUFFER_H
#define SUPPORT_SAFE_BUFFER_H

#include "tru2/buffer.h"

namespace vdk {

// Owning buffer for secrets: its bytes are wiped (0x00, 0xFF, 0xAA) before any
// storage it holds is freed or replaced. Detach hands storage over unwiped.
class SafeBuffer : public tru::BufferDynamic {
public:
    SafeBuffer() = default;
    explicit SafeBuffer(uint32_t size) : BufferDynamic(size) {}
    SafeBuffer(const void* data, uint32_t size) : BufferDynamic(data, size) {}
    SafeBuffer(const SafeBuffer& other) : BufferDynamic(other) {}
    SafeBuffer(const tru::Buffer& other) : BufferDynamic(other) {}
    SafeBuffer(SafeBuffer&& other);
    ~SafeBuffer() override;

    SafeBuffer& operator=(const SafeBuffer& other);
    SafeBuffer& operator=(const tru::Buffer& other);
    SafeBuffer& operator=(SafeBuffer&& other);

    void WipeData();
    // Wipes, then leaves the buffer empty; throws tru::Exception on failure.
    void Clear();
    // Fills whole 32-bit words from rand() mixed with the address; the last
    // Size() % 4 bytes are left as they are. Not a cryptographic generator.
    void FillPseudoRandFast();

    tru::TResult Alloc(uint32_t size) override;
    // Never resizes in place: the old storage is wiped and freed.
    tru::TResult Realloc(uint32_t size) override;
    tru::TResult Destroy() override;

protected:
    bool WipesStorage() const override { return true; }
};

// View over caller storage that is wiped when the view is destroyed.
class SafeStaticBuffer : public tru::Buffer {
public:
    SafeStaticBuffer(void* data, uint32_t size) : Buffer(data, size) {}
    SafeStaticBuffer(const SafeStaticBuffer&) = delete;
    SafeStaticBuffer& operator=(const SafeStaticBuffer&) = delete;
    ~SafeStaticBuffer() override { WipeData(); }

    void WipeData()
    {
        if (Data() && Size() != 0)
            Wipe(Size(), Data());
    }
};

}  // namespace vdk

#endif
