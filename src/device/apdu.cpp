#include "device/apdu.h"

#include <cstring>

#include "device/device_results.h"
#include "device/device_types.h"
#include "tru2/nix/scard.h"

namespace {

constexpr uint8_t kMarker = 0x01;
constexpr uint8_t kApduHeader[4] = {0x81, 0x00, 0x00, 0x00};
constexpr uint8_t kSw1Ok = 0x90;
constexpr uint8_t kSw2Ok = 0x00;
constexpr uint32_t kTransmitDeviceGone = 2;

}  // namespace

CommandData::CommandData(uint8_t* storage, uint8_t command) : data_(storage)
{
    Byte(kMarker).Byte(command);
}

void CommandData::Fail(uint32_t code)
{
    if (error_ == 0) {
        error_ = code;
    }
}

bool CommandData::Reserve(size_t count)
{
    if (error_ != 0) {
        return false;
    }
    if (count > kMaxCommandData - size_) {
        Fail(devrc::kSize);
        return false;
    }
    return true;
}

CommandData& CommandData::Byte(uint8_t value)
{
    if (Reserve(1)) {
        data_[size_++] = value;
    }
    return *this;
}

CommandData& CommandData::U16(uint16_t value)
{
    if (Reserve(2)) {
        data_[size_++] = static_cast<uint8_t>(value);
        data_[size_++] = static_cast<uint8_t>(value >> 8);
    }
    return *this;
}

CommandData& CommandData::U32(uint32_t value)
{
    if (Reserve(4)) {
        for (int shift = 0; shift < 32; shift += 8) {
            data_[size_++] = static_cast<uint8_t>(value >> shift);
        }
    }
    return *this;
}

CommandData& CommandData::Bytes(const uint8_t* data, size_t length)
{
    if (length != 0 && data == nullptr) {
        Fail(devrc::kParam);
    }
    if (Reserve(length) && length != 0) {
        std::memcpy(data_ + size_, data, length);
        size_ += length;
    }
    return *this;
}

CommandData& CommandData::Zeros(size_t count)
{
    if (Reserve(count)) {
        std::memset(data_ + size_, 0, count);
        size_ += count;
    }
    return *this;
}

CommandData& CommandData::Session(const uint8_t* session)
{
    if (session == nullptr) {
        Fail(devrc::kParam);
    }
    return Bytes(session, kDeviceSessionSize);
}

CommandData& CommandData::ShortField(const uint8_t* data, size_t length)
{
    if (length > 0xFF) {
        Fail(devrc::kParam);
    }
    return Byte(static_cast<uint8_t>(length)).Bytes(data, length);
}

CommandData& CommandData::LongField(const uint8_t* data, size_t length)
{
    if (length > 0xFFFF) {
        Fail(devrc::kParam);
    }
    return U16(static_cast<uint16_t>(length)).Bytes(data, length);
}

void FrameApdu(uint8_t* buffer, size_t dataLength, size_t& start, size_t& length)
{
    uint8_t lc[3];
    const size_t lcLength = nix::SCard::EncodeAPDUNc(lc, dataLength);
    start = kApduHeaderRoom - sizeof(kApduHeader) - lcLength;
    std::memcpy(buffer + start, kApduHeader, sizeof(kApduHeader));
    std::memcpy(buffer + start + sizeof(kApduHeader), lc, lcLength);
    const size_t leLength =
        nix::SCard::EncodeAPDUNe(buffer + kApduHeaderRoom + dataLength, kResponseBufferSize, dataLength);
    length = kApduHeaderRoom - start + dataLength + leLength;
}

uint32_t AnswerFields::Byte(uint8_t& value)
{
    return Bytes(&value, 1);
}

uint32_t AnswerFields::U16(uint16_t& value)
{
    uint8_t b[2];
    const uint32_t rc = Bytes(b, sizeof(b));
    if (rc == 0) {
        value = static_cast<uint16_t>(b[0] | (b[1] << 8));
    }
    return rc;
}

uint32_t AnswerFields::U32(uint32_t& value)
{
    uint8_t b[4];
    const uint32_t rc = Bytes(b, sizeof(b));
    if (rc == 0) {
        value = LoadLe32(b);
    }
    return rc;
}

uint32_t AnswerFields::Bytes(uint8_t* out, size_t count)
{
    if (count > remaining_) {
        return devrc::kSize;
    }
    if (count != 0) {
        std::memcpy(out, data_, count);
        data_ += count;
        remaining_ -= count;
    }
    return devrc::kSuccess;
}

uint32_t CheckAnswer(uint32_t transmitResult, const uint8_t* answer, size_t length, AnswerFields& fields)
{
    if (transmitResult == kTransmitDeviceGone) {
        return devrc::kDeviceRemoved;
    }
    if (transmitResult != 0) {
        return transmitResult;
    }
    if (length < 2) {
        return devrc::kGeneralFailure;
    }
    if (answer[length - 2] != kSw1Ok || answer[length - 1] != kSw2Ok) {
        return devrc::kMalformedAnswer;
    }
    const size_t dataLength = length - 2;
    if (dataLength < 2) {
        return devrc::kGeneralFailure;
    }
    if (answer[0] != kMarker) {
        return devrc::kMalformedAnswer;
    }
    const uint32_t rc = ConvertTokenError(answer[1]);
    if (rc == 0) {
        fields = AnswerFields(answer + 2, dataLength - 2);
    }
    return rc;
}

uint32_t TakeSizedOutput(AnswerFields& fields, bool byteLength, uint8_t* out, size_t* outLength)
{
    size_t announced = 0;
    uint32_t rc;
    if (byteLength) {
        uint8_t l = 0;
        rc = fields.Byte(l);
        announced = l;
    } else {
        uint16_t l = 0;
        rc = fields.U16(l);
        announced = l;
    }
    if (rc != 0) {
        return rc;
    }
    if (out != nullptr && announced <= *outLength) {
        *outLength = announced;
        return fields.Bytes(out, announced);
    }
    *outLength = announced;
    return out != nullptr ? devrc::kSize : devrc::kSuccess;
}
