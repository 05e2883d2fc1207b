#pragma once

#include <cstddef>
#include <cstdint>

// The token's command framing:
//   81 00 00 00 | Lc | 01 <command> <fields> | Le
// Lc is one byte for 1..255 data bytes, else 00 and the length low byte first; Le always asks for
// the whole response buffer, 00 16 05 (the token's own low-byte-first form). Numbers inside the
// data are little-endian. Answers are 01 <status> <fields> 90 00.

constexpr size_t kRequestBufferSize = 1310;
constexpr size_t kResponseBufferSize = 1302;
constexpr size_t kApduHeaderRoom = 7;  // CLA INS P1 P2 and the longest Lc
constexpr size_t kApduLeRoom = 3;
constexpr size_t kMaxCommandData = kRequestBufferSize - kApduHeaderRoom - kApduLeRoom;  // 1300

// Little-endian u32 as the token stores and sends it.
inline uint32_t LoadLe32(const uint8_t* b)
{
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// Writes a command's data field into caller storage of kMaxCommandData bytes. Instead of
// asserting, the first failure is kept: ERROR_PARAM for a value that does not fit its length
// field (or a null pointer with a non-zero length), ERROR_SIZE for data beyond the buffer.
// Nothing is written past the buffer either way.
class CommandData {
public:
    CommandData(uint8_t* storage, uint8_t command);

    CommandData& Byte(uint8_t value);
    CommandData& U16(uint16_t value);
    CommandData& U32(uint32_t value);
    CommandData& Bytes(const uint8_t* data, size_t length);
    CommandData& Zeros(size_t count);
    CommandData& Session(const uint8_t* session);                // the 32-byte device session
    CommandData& ShortField(const uint8_t* data, size_t length);  // one-byte length + bytes
    CommandData& LongField(const uint8_t* data, size_t length);   // u16 length + bytes

    uint32_t Error() const { return error_; }
    size_t Size() const { return size_; }

private:
    bool Reserve(size_t count);
    void Fail(uint32_t code);

    uint8_t* data_;
    size_t size_ = 0;
    uint32_t error_ = 0;
};

// Puts header and Lc in front of data already written at buffer + kApduHeaderRoom and Le after
// it; returns the offset where the APDU starts in the buffer and its total length.
void FrameApdu(uint8_t* buffer, size_t dataLength, size_t& start, size_t& length);

// Cursor over an answer's fields, from data byte 2 on; each read fails with ERROR_SIZE when
// fewer bytes remain than it needs.
class AnswerFields {
public:
    AnswerFields() = default;
    AnswerFields(const uint8_t* data, size_t length) : data_(data), remaining_(length) {}

    size_t Remaining() const { return remaining_; }
    uint32_t Byte(uint8_t& value);
    uint32_t U16(uint16_t& value);
    uint32_t U32(uint32_t& value);
    uint32_t Bytes(uint8_t* out, size_t count);

private:
    const uint8_t* data_ = nullptr;
    size_t remaining_ = 0;
};

// Checks a received answer: transmit result (2 becomes 0x651), status word 90 00, marker 01 and
// status byte. On success fields covers the answer fields.
uint32_t CheckAnswer(uint32_t transmitResult, const uint8_t* answer, size_t length,
                     AnswerFields& fields);

// Output rule of the length-prefixed answers (u16 length, or one byte when byteLength): with an
// output big enough the value is copied; otherwise *outLength gets the announced length and the
// result is ERROR_SIZE with an output, 0 for a pure length query (out null).
uint32_t TakeSizedOutput(AnswerFields& fields, bool byteLength, uint8_t* out, size_t* outLength);
