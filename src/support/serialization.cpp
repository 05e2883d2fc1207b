#include "support/serialization.h"

#include <cstring>

#include "support/vdk_exception.h"

namespace vdk {

namespace {

constexpr uint32_t kSmallCapacity = 32;
constexpr uint32_t kLargeStep = 0x4000;

void ThrowIfFailed(tru::TResult rc)
{
    if (rc != tru::SUCCESS)
        throw tru::Exception(rc);
}

}  // namespace

OutputBuffer::OutputBuffer(Math::ByteOrder order, uint32_t initialSize)
    : order_(order),
      owned_(new tru::BufferDynamic(initialSize)),
      storage_(owned_.get()),
      initialSize_(initialSize)
{
}

OutputBuffer::OutputBuffer(Math::ByteOrder order, tru::BufferDynamic& storage)
    : order_(order), storage_(&storage), initialSize_(storage.Size())
{
}

OutputBuffer::~OutputBuffer() = default;

void OutputBuffer::IncreaseOnDemand(uint32_t count)
{
    if (count > UINT32_MAX - position_)
        throw tru::Exception(tru::ERROR_SIZE);
    if (position_ + count > storage_->Size())
        IncreaseBuffer(count);
}

void OutputBuffer::IncreaseBuffer(uint32_t count)
{
    const uint64_t capacity = storage_->Size();
    uint64_t grown;
    if (capacity > kLargeStep)
        grown = capacity + kLargeStep;
    else if (capacity >= kSmallCapacity)
        grown = 2 * capacity;
    else
        grown = capacity + kSmallCapacity;
    const uint64_t needed = capacity + count;
    uint64_t target = grown > needed ? grown : needed;
    if (target > UINT32_MAX) {
        if (needed > UINT32_MAX)
            throw tru::Exception(tru::ERROR_SIZE);
        target = UINT32_MAX;
    }
    ThrowIfFailed(storage_->Realloc(static_cast<uint32_t>(target)));
}

uint8_t* OutputBuffer::Reserve(uint32_t count)
{
    IncreaseOnDemand(count);
    uint8_t* at = storage_->Data() + position_;
    position_ += count;
    return at;
}

OutputBuffer& OutputBuffer::WriteByte(uint8_t value)
{
    *Reserve(1) = value;
    return *this;
}

OutputBuffer& OutputBuffer::WriteBool(bool value)
{
    return WriteByte(value ? 1 : 0);
}

OutputBuffer& OutputBuffer::WriteShort(uint16_t value)
{
    Math::PutUShort(order_, value, Reserve(2));
    return *this;
}

OutputBuffer& OutputBuffer::WriteInt(uint32_t value)
{
    Math::PutUInt(order_, value, Reserve(4));
    return *this;
}

OutputBuffer& OutputBuffer::WriteLong(unsigned long value)
{
    if (value > UINT32_MAX)
        throw Exception("OutputBuffer: value too big for 32 bits");
    Math::PutULong(order_, static_cast<uint32_t>(value), Reserve(4));
    return *this;
}

OutputBuffer& OutputBuffer::WriteSize(uint32_t value)
{
    std::memcpy(Reserve(4), &value, 4);
    return *this;
}

OutputBuffer& OutputBuffer::Write(const void* data, uint32_t count)
{
    if (count != 0)
        std::memmove(Reserve(count), data, count);
    return *this;
}

OutputBuffer& OutputBuffer::Write(const tru::Buffer& data)
{
    return Write(data.Data(), data.Size());
}

OutputBuffer& OutputBuffer::WriteString(const char* text)
{
    return Write(text, static_cast<uint32_t>(std::strlen(text)));
}

OutputBuffer& OutputBuffer::WriteShortPacket(const void* data, uint32_t count)
{
    if (count > UINT16_MAX)
        throw Exception("OutputBuffer: packet too long for a 16-bit length");
    IncreaseOnDemand(count + 2);
    WriteShort(static_cast<uint16_t>(count));
    return Write(data, count);
}

OutputBuffer& OutputBuffer::WriteShortPacket(const tru::Buffer& data)
{
    return WriteShortPacket(data.Data(), data.Size());
}

OutputBuffer& OutputBuffer::WriteIntPacket(const void* data, uint32_t count)
{
    if (count > UINT32_MAX - 4)
        throw Exception("OutputBuffer: packet too long for a 32-bit length");
    IncreaseOnDemand(count + 4);
    WriteInt(count);
    return Write(data, count);
}

OutputBuffer& OutputBuffer::WriteIntPacket(const tru::Buffer& data)
{
    return WriteIntPacket(data.Data(), data.Size());
}

void OutputBuffer::Reset()
{
    ThrowIfFailed(storage_->Realloc(initialSize_));
    position_ = 0;
}

void OutputBuffer::Shrink()
{
    ThrowIfFailed(storage_->Realloc(position_));
}

uint32_t OutputBuffer::GetBuffer(tru::BufferDynamic& out) const
{
    ThrowIfFailed(out.Alloc(position_));
    if (position_ != 0)
        std::memcpy(out.Data(), storage_->Data(), position_);
    return position_;
}

uint32_t OutputBuffer::GetBuffer(tru::Buffer& out) const
{
    if (out.Size() < position_)
        throw Exception("OutputBuffer: not enough memory to copy buffer");
    if (position_ != 0)
        std::memmove(out.Data(), storage_->Data(), position_);
    return position_;
}

void InputBuffer::VerifyDataAvailable(uint32_t count) const
{
    if (count > data_.Size() - position_)
        throw Exception("InputBuffer - not enough data available");
}

const uint8_t* InputBuffer::Take(uint32_t count)
{
    VerifyDataAvailable(count);
    const uint8_t* at = data_.Data() + position_;
    position_ += count;
    return at;
}

uint8_t InputBuffer::ReadByte()
{
    return *Take(1);
}

bool InputBuffer::ReadBool()
{
    return ReadByte() != 0;
}

uint16_t InputBuffer::ReadShort()
{
    return Math::GetUShort(order_, Take(2));
}

uint32_t InputBuffer::ReadInt()
{
    return Math::GetUInt(order_, Take(4));
}

unsigned long InputBuffer::ReadLong()
{
    return Math::GetULong(order_, Take(4));
}

uint32_t InputBuffer::ReadSize()
{
    uint32_t value;
    std::memcpy(&value, Take(4), 4);
    return value;
}

std::string InputBuffer::ReadString(uint32_t count)
{
    const uint8_t* at = Take(count);
    return std::string(reinterpret_cast<const char*>(at), count);
}

const uint8_t* InputBuffer::Read(uint32_t count)
{
    return Take(count);
}

void InputBuffer::Read(tru::Buffer& out)
{
    const uint8_t* at = Take(out.Size());
    if (out.Size() != 0)
        std::memmove(out.Data(), at, out.Size());
}

bool InputBuffer::ReadPacketInto(uint32_t length, tru::Buffer& out)
{
    if (length != out.Size())
        return false;
    Read(out);
    return true;
}

void InputBuffer::ReadPacketInto(uint32_t length, tru::BufferDynamic& out)
{
    // A hostile length must not make us allocate before the body is known to exist.
    VerifyDataAvailable(length);
    ThrowIfFailed(out.Alloc(length));
    Read(out);
}

bool InputBuffer::ReadShortPacket(tru::Buffer& out)
{
    return ReadPacketInto(ReadShort(), out);
}

bool InputBuffer::ReadIntPacket(tru::Buffer& out)
{
    return ReadPacketInto(ReadInt(), out);
}

tru::Buffer InputBuffer::ReadShortPacket()
{
    const uint32_t length = ReadShort();
    return tru::Buffer(Take(length), length);
}

tru::Buffer InputBuffer::ReadIntPacket()
{
    const uint32_t length = ReadInt();
    return tru::Buffer(Take(length), length);
}

void InputBuffer::ReadShortPacket(tru::BufferDynamic& out)
{
    ReadPacketInto(ReadShort(), out);
}

void InputBuffer::ReadIntPacket(tru::BufferDynamic& out)
{
    ReadPacketInto(ReadInt(), out);
}

}  // namespace vdk
