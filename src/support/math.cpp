#include "support/math.h"

#include <cstring>

#include "support/safe_buffer.h"
#include "support/vdk_exception.h"

namespace vdk {

namespace {

// Explicit byte assembly: same bytes on any machine.
uint64_t GetOrdered(Math::ByteOrder order, const void* bytes, unsigned width)
{
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
        const unsigned index = order == Math::BIG_ENDIAN_ORDER ? i : width - 1 - i;
        value = (value << 8) | p[index];
    }
    return value;
}

void PutOrdered(Math::ByteOrder order, uint64_t value, void* bytes, unsigned width)
{
    uint8_t* p = static_cast<uint8_t*>(bytes);
    for (unsigned i = 0; i < width; ++i) {
        const unsigned index = order == Math::BIG_ENDIAN_ORDER ? width - 1 - i : i;
        p[index] = static_cast<uint8_t>(value >> (8 * i));
    }
}

template <typename T>
T Get(Math::ByteOrder order, const void* bytes)
{
    if (order == Math::HOST) {
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    if (order == Math::BIG_ENDIAN_ORDER || order == Math::LITTLE_ENDIAN_ORDER)
        return static_cast<T>(GetOrdered(order, bytes, sizeof(T)));
    return 0;
}

template <typename T>
void Put(Math::ByteOrder order, T value, void* bytes)
{
    if (order == Math::HOST)
        std::memcpy(bytes, &value, sizeof value);
    else if (order == Math::BIG_ENDIAN_ORDER || order == Math::LITTLE_ENDIAN_ORDER)
        PutOrdered(order, value, bytes, sizeof(T));
}

template <typename T>
T FromBigInt(const void* bytes, uint32_t count, const char* message)
{
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    const T topByteLimit = static_cast<T>(T(1) << (8 * (sizeof(T) - 1)));
    T value = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (value >= topByteLimit)
            throw Exception(message);
        value = static_cast<T>((value << 8) | p[i]);
    }
    return value;
}

}  // namespace

uint16_t Math::GetUShort(ByteOrder order, const void* bytes) { return Get<uint16_t>(order, bytes); }
void Math::PutUShort(ByteOrder order, uint16_t value, void* bytes) { Put(order, value, bytes); }
uint32_t Math::GetUInt(ByteOrder order, const void* bytes) { return Get<uint32_t>(order, bytes); }
void Math::PutUInt(ByteOrder order, uint32_t value, void* bytes) { Put(order, value, bytes); }
uint64_t Math::GetULLong(ByteOrder order, const void* bytes) { return Get<uint64_t>(order, bytes); }
void Math::PutULLong(ByteOrder order, uint64_t value, void* bytes) { Put(order, value, bytes); }

uint16_t GetUnsignedShort(const void* bytes) { return Math::GetUShort(Math::BIG_ENDIAN_ORDER, bytes); }
void SetUnsignedShort(uint16_t value, void* bytes) { Math::PutUShort(Math::BIG_ENDIAN_ORDER, value, bytes); }
uint32_t GetUnsigned(const void* bytes) { return Math::GetUInt(Math::BIG_ENDIAN_ORDER, bytes); }
void SetUnsigned(uint32_t value, void* bytes) { Math::PutUInt(Math::BIG_ENDIAN_ORDER, value, bytes); }
uint64_t GetUnsignedLongLong(const void* bytes) { return Math::GetULLong(Math::BIG_ENDIAN_ORDER, bytes); }
void SetUnsignedLongLong(uint64_t value, void* bytes) { Math::PutULLong(Math::BIG_ENDIAN_ORDER, value, bytes); }

unsigned GetBitLength(uint8_t value)
{
    unsigned length = 0;
    for (; value != 0; value >>= 1)
        ++length;
    return length;
}

unsigned GetReverseBitLength(uint8_t value)
{
    if (value == 0)
        return 0;
    unsigned lowest = 0;
    while (!(value & (1u << lowest)))
        ++lowest;
    return 8 - lowest;
}

uint32_t GetBitLength(const tru::Buffer& number)
{
    const uint8_t* p = number.Data();
    for (uint32_t i = 0; i < number.Size(); ++i)
        if (p[i] != 0)
            return 8 * (number.Size() - i - 1) + GetBitLength(p[i]);
    return 0;
}

uint32_t GetReverseBitLength(const tru::Buffer& number)
{
    const uint8_t* p = number.Data();
    for (uint32_t k = number.Size(); k > 0; --k)
        if (p[k - 1] != 0)
            return 8 * (k - 1) + GetBitLength(p[k - 1]);
    return 0;
}

unsigned GetBytesCount(uint64_t value)
{
    unsigned count = 1;
    while (value > 0xFF) {
        value >>= 8;
        ++count;
    }
    return count;
}

uint32_t Align(uint32_t value, uint32_t alignment)
{
    if (alignment == 0)
        throw Exception("Align: alignment 0");
    const uint64_t aligned =
        (static_cast<uint64_t>(value) + alignment - 1) / alignment * alignment;
    if (aligned > UINT32_MAX)
        throw Exception("Align: value too big");
    return static_cast<uint32_t>(aligned);
}

uint32_t ELFHash(const char* text)
{
    uint32_t h = 0;
    for (const char* p = text; *p; ++p) {
        // Each character as a signed 8-bit value: bytes from 0x80 add a negative amount.
        h = (h << 4) + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*p)));
        const uint32_t g = h & 0xF0000000u;
        if (g != 0)
            h ^= g >> 24;
        h &= ~g;
    }
    return h;
}

std::string ELFHashStr(const char* text)
{
    return std::to_string(ELFHash(text));
}

bool i64toa(long long value, char* buffer, unsigned size)
{
    if (!buffer || size == 0)
        return false;
    std::memset(buffer, 0, size);
    // Magnitude in unsigned arithmetic, so the most negative value works too.
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char digits[20];
    unsigned count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    const unsigned needed = (value < 0 ? 1 : 0) + count + 1;  // with the terminator
    if (needed > size)
        return false;
    unsigned pos = 0;
    if (value < 0)
        buffer[pos++] = '-';
    while (count > 0)
        buffer[pos++] = digits[--count];
    return true;
}

uint64_t GetUnsignedLLongFromBigInt(const void* bytes, uint32_t count)
{
    return FromBigInt<uint64_t>(bytes, count, "GetUnsignedLLongFromBigInt: value too big");
}

uint32_t GetUnsignedIntFromBigInt(const void* bytes, uint32_t count)
{
    return FromBigInt<uint32_t>(bytes, count, "GetUnsignedIntFromBigInt: value too big");
}

void XorBuffers(tru::Buffer& data, const tru::Buffer& theDataToXor)
{
    if (theDataToXor.Size() > data.Size())
        throw Exception("XorBuffers: theDataToXor too large");
    if (data.Size() == 0)
        return;
    if (theDataToXor.Size() == 0)
        throw Exception("XorBuffers: theDataToXor empty");
    const uint32_t period = theDataToXor.Size();
    for (uint32_t i = 0; i < data.Size(); ++i)
        data.Data()[i] ^= theDataToXor.Data()[i % period];
}

void SBigInt::AddData(const tru::Buffer& a, const tru::Buffer& b, tru::BufferDynamic& out)
{
    if (b.Size() < a.Size())
        throw Exception("SBigInt::AddData: second number shorter than the first");
    SafeBuffer sum(a.Size() + 1);
    unsigned carry = 0;
    for (uint32_t i = 0; i < a.Size(); ++i) {
        const unsigned s = a.Data()[i] + b.Data()[i] + carry;
        sum.Data()[i] = static_cast<uint8_t>(s);
        carry = s >> 8;
    }
    sum.Data()[a.Size()] = static_cast<uint8_t>(carry);
    const tru::TResult rc = out.Set(a.Size() + carry, sum.Data());
    if (rc != tru::SUCCESS)
        throw tru::Exception(rc);
}

void SBigInt::GetAdjusted(const tru::Buffer& in, tru::BufferDynamic& out, uint32_t size)
{
    if (in.Size() > size)
        throw Exception("SBigInt::GetAdjusted: number longer than the target size");
    // Copy first: in may view out's own storage.
    SafeBuffer widened(size);
    if (size != 0) {
        std::memset(widened.Data(), 0, size);
        if (in.Size() != 0)
            std::memcpy(widened.Data(), in.Data(), in.Size());
    }
    out = widened;
}

}  // namespace vdk
