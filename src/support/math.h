#ifndef SUPPORT_MATH_H
#define SUPPORT_MATH_H

#include <cstdint>
#include <string>

#include "tru2/buffer.h"

namespace vdk {

// Byte-order aware stores and fetches. Every function takes the order first and
// the bytes last; an unknown order fetches 0 and stores nothing.
class Math {
public:
    enum ByteOrder : uint32_t {
        HOST = 0,
        BIG_ENDIAN_ORDER = 1,
        LITTLE_ENDIAN_ORDER = 2,
    };

    static uint16_t GetUShort(ByteOrder order, const void* bytes);
    static void PutUShort(ByteOrder order, uint16_t value, void* bytes);
    static uint32_t GetUInt(ByteOrder order, const void* bytes);
    static void PutUInt(ByteOrder order, uint32_t value, void* bytes);
    // The "long" of stored formats is 32 bits wide: same as GetUInt / PutUInt.
    static uint32_t GetULong(ByteOrder order, const void* bytes) { return GetUInt(order, bytes); }
    static void PutULong(ByteOrder order, uint32_t value, void* bytes) { PutUInt(order, value, bytes); }
    static uint64_t GetULLong(ByteOrder order, const void* bytes);
    static void PutULLong(ByteOrder order, uint64_t value, void* bytes);
};

// Fixed big-endian forms.
uint16_t GetUnsignedShort(const void* bytes);
void SetUnsignedShort(uint16_t value, void* bytes);
uint32_t GetUnsigned(const void* bytes);
void SetUnsigned(uint32_t value, void* bytes);
uint64_t GetUnsignedLongLong(const void* bytes);
void SetUnsignedLongLong(uint64_t value, void* bytes);

// Highest set bit counted from 1 (0x80 -> 8); 0 for 0.
unsigned GetBitLength(uint8_t value);
// As if the byte's bit order were reversed (0x01 -> 8, 0x80 -> 1); 0 for 0.
unsigned GetReverseBitLength(uint8_t value);
// Bit length of a big-endian unsigned number.
uint32_t GetBitLength(const tru::Buffer& number);
// Bit length of a little-endian unsigned number.
uint32_t GetReverseBitLength(const tru::Buffer& number);
// Bytes (1..8) needed to hold the value; 0 needs 1.
unsigned GetBytesCount(uint64_t value);
// Smallest multiple of alignment not below value; vdk::Exception for alignment 0
// or a result beyond 32 bits.
uint32_t Align(uint32_t value, uint32_t alignment);

uint32_t ELFHash(const char* text);
std::string ELFHashStr(const char* text);

// Decimal text of value into buffer, always zero-terminated. False (buffer
// holding no usable text) when text and terminator do not fit or buffer is null.
bool i64toa(long long value, char* buffer, unsigned size);

// Value of count big-endian bytes (leading zeros allowed); vdk::Exception
// "...: value too big" when it does not fit.
uint64_t GetUnsignedLLongFromBigInt(const void* bytes, uint32_t count);
uint32_t GetUnsignedIntFromBigInt(const void* bytes, uint32_t count);

// data ^= theDataToXor repeated from its start. vdk::Exception when the
// repeated part is longer than data, or empty while data is not.
void XorBuffers(tru::Buffer& data, const tru::Buffer& theDataToXor);

// Little-endian unsigned byte-string numbers.
class SBigInt {
public:
    // out = a + b over a's length, plus one byte for a final carry. b must be at
    // least as long as a (its further bytes are ignored), else vdk::Exception.
    static void AddData(const tru::Buffer& a, const tru::Buffer& b, tru::BufferDynamic& out);
    // out = in widened with zero bytes to size; vdk::Exception when in is longer.
    static void GetAdjusted(const tru::Buffer& in, tru::BufferDynamic& out, uint32_t size);
};

}  // namespace vdk

#endif
