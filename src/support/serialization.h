#ifndef SUPPORT_SERIALIZATION_H
#define SUPPORT_SERIALIZATION_H

#include <cstdint>
#include <memory>
#include <string>

#include "support/math.h"
#include "support/noncopyable.h"
#include "tru2/buffer.h"

namespace vdk {

// Growable byte-stream writer. Numbers and packet lengths go in the stream's
// order; WriteSize always in host order. Nothing marks item boundaries: reader
// and writer agree on the sequence. Memory failures throw tru::Exception and
// keep what was written.
class OutputBuffer : private Noncopyable {
public:
    // Own storage of initialSize bytes.
    OutputBuffer(Math::ByteOrder order, uint32_t initialSize);
    // Writes over the caller's buffer from its first byte; finish with Shrink so
    // that it holds exactly what was written.
    OutputBuffer(Math::ByteOrder order, tru::BufferDynamic& storage);
    virtual ~OutputBuffer();

    OutputBuffer& WriteByte(uint8_t value);
    OutputBuffer& WriteBool(bool value);
    OutputBuffer& WriteShort(uint16_t value);
    OutputBuffer& WriteInt(uint32_t value);
    // Four bytes: vdk::Exception when the value does not fit in 32 bits.
    OutputBuffer& WriteLong(unsigned long value);
    OutputBuffer& WriteSize(uint32_t value);
    OutputBuffer& Write(const void* data, uint32_t count);
    OutputBuffer& Write(const tru::Buffer& data);
    // The characters only: no terminator, no length.
    OutputBuffer& WriteString(const char* text);
    // 16-bit length, then the bytes; a body over 65535 bytes is refused with
    // vdk::Exception, never truncated.
    OutputBuffer& WriteShortPacket(const void* data, uint32_t count);
    OutputBuffer& WriteShortPacket(const tru::Buffer& data);
    OutputBuffer& WriteIntPacket(const void* data, uint32_t count);
    OutputBuffer& WriteIntPacket(const tru::Buffer& data);

    void IncreaseOnDemand(uint32_t count);
    void IncreaseBuffer(uint32_t count);
    // Back to the initial capacity, position 0.
    void Reset();
    // Capacity = written length.
    void Shrink();
    // Copies the written bytes; returns their number.
    uint32_t GetBuffer(tru::BufferDynamic& out) const;
    // Copies to the start of out, which keeps its size; vdk::Exception when too small.
    uint32_t GetBuffer(tru::Buffer& out) const;

    uint32_t GetPosition() const { return position_; }
    uint32_t GetCapacity() const { return storage_->Size(); }
    Math::ByteOrder GetOrder() const { return order_; }

private:
    uint8_t* Reserve(uint32_t count);

    Math::ByteOrder order_;
    std::unique_ptr<tru::BufferDynamic> owned_;
    tru::BufferDynamic* storage_;
    uint32_t position_ = 0;
    uint32_t initialSize_;
};

// Reader over bytes it does not own. Reading past the end throws vdk::Exception
// "InputBuffer - not enough data available" and leaves the position at the
// failing item (a packet's length field stays consumed).
class InputBuffer {
public:
    InputBuffer(Math::ByteOrder order, const tru::Buffer& data)
        : order_(order), data_(data.Data(), data.Size())
    {
    }

    InputBuffer& Restart()
    {
        position_ = 0;
        return *this;
    }
    void VerifyDataAvailable(uint32_t count) const;

    uint8_t ReadByte();
    // Any non-zero byte is true.
    bool ReadBool();
    uint16_t ReadShort();
    uint32_t ReadInt();
    unsigned long ReadLong();
    uint32_t ReadSize();
    std::string ReadString(uint32_t count);
    // Pointer into the viewed bytes.
    const uint8_t* Read(uint32_t count);
    // Fills out completely.
    void Read(tru::Buffer& out);

    // False, position just after the length, when the length differs from out's size.
    bool ReadShortPacket(tru::Buffer& out);
    bool ReadIntPacket(tru::Buffer& out);
    // A view of the body in place.
    tru::Buffer ReadShortPacket();
    tru::Buffer ReadIntPacket();
    // out takes the body; the body is checked present before out is resized.
    void ReadShortPacket(tru::BufferDynamic& out);
    void ReadIntPacket(tru::BufferDynamic& out);

    uint32_t GetPosition() const { return position_; }
    uint32_t GetRemaining() const { return data_.Size() - position_; }

private:
    const uint8_t* Take(uint32_t count);
    bool ReadPacketInto(uint32_t length, tru::Buffer& out);
    void ReadPacketInto(uint32_t length, tru::BufferDynamic& out);

    Math::ByteOrder order_;
    tru::Buffer data_;
    uint32_t position_ = 0;
};

}  // namespace vdk

#endif
