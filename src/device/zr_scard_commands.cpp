// The token's command set: one APDU per command, answers decoded into the caller's output.
#include <algorithm>

#include "device/device_results.h"
#include "device/zr_scard.h"

namespace {

enum Command : uint8_t {
    CmdCreateFile = 0x01,
    CmdDeleteFile = 0x02,
    CmdGetFileSize = 0x03,
    CmdWriteFile = 0x04,
    CmdReadFile = 0x05,
    CmdGetAttr = 0x10,
    CmdSetAttr = 0x11,
    CmdTestResponseDelay = 0x12,
    CmdSetResponseDelay = 0x13,
    CmdInitSOPIN = 0x30,
    CmdInitUserPIN = 0x31,
    CmdChangeSOPIN = 0x32,
    CmdChangeUserPIN = 0x33,
    CmdCheckSOPIN = 0x34,
    CmdCheckUserPIN = 0x35,
    CmdOpenSession = 0x36,
    CmdCloseSession = 0x37,
    CmdLogin = 0x38,
    CmdLogout = 0x39,
    CmdGetSessionState = 0x3A,
    CmdGetFirmwareIntegrityCode = 0x3B,
    CmdResetDevice = 0x3C,
    CmdSetMaxAuthCtr = 0x3D,
    CmdGetRand = 0xA1,
    CmdGenerateKey = 0xA2,
    CmdSign = 0xA4,
    CmdVerify = 0xA5,
    CmdGetCommonKey = 0xA7,
    CmdEncrypt = 0xA8,
    CmdDecrypt = 0xA9,
    CmdLoadKey = 0xB0,
};

// SetMaxAuthCtr always carries 39 data bytes: 01 3D, l + SO PIN, the count, zero filler.
constexpr size_t kSetMaxAuthCtrData = 39;
constexpr size_t kMaxAuthCtrPin = kSetMaxAuthCtrData - 2 - 1 - 4;
constexpr size_t kMaxRandomChunk = 192;  // GetRand count and seed length
constexpr size_t kEncryptFiller = 2;
constexpr uint32_t kFileSpan = 0x10000;  // offsets are 16-bit

uint32_t NeedOutput(const size_t* length)
{
    return length == nullptr ? devrc::kParam : devrc::kSuccess;
}

}  // namespace

CommandData ZrSCard::Begin(uint8_t command)
{
    return CommandData(request_.data() + kApduHeaderRoom, command);
}

uint32_t ZrSCard::Transmit(const uint8_t* send, size_t sendLength, size_t& receiveLength)
{
    if (transmitter_) {
        return transmitter_(send, sendLength, response_.data(), receiveLength);
    }
    if (!card_) {
        return devrc::kNoDevice;
    }
    unsigned received = static_cast<unsigned>(receiveLength);
    const uint32_t rc = card_->Transmit(static_cast<unsigned>(sendLength), send, received, response_.data());
    receiveLength = std::min<size_t>(received, response_.size());
    return rc;
}

uint32_t ZrSCard::Call(const CommandData& command, const AnswerDecoder& decode)
{
    // Requests carry PINs and keys, answers random bytes and plain text: both are wiped after use.
    const size_t requestUsed = kApduHeaderRoom + command.Size() + kApduLeRoom;
    if (command.Error() != 0) {
        tru::Buffer::Wipe(static_cast<uint32_t>(requestUsed), request_.data());
        return command.Error();
    }
    size_t start = 0;
    size_t length = 0;
    FrameApdu(request_.data(), command.Size(), start, length);
    size_t received = response_.size();
    const uint32_t transmitted = Transmit(request_.data() + start, length, received);
    tru::Buffer::Wipe(static_cast<uint32_t>(requestUsed), request_.data());
    received = std::min(received, response_.size());

    AnswerFields fields;
    uint32_t rc = CheckAnswer(transmitted, response_.data(), transmitted == 0 ? received : 0, fields);
    if (rc == 0 && decode) {
        rc = decode(fields);
    }
    tru::Buffer::Wipe(static_cast<uint32_t>(received), response_.data());
    return rc;
}

uint32_t ZrSCard::CreateFile(const uint8_t* session, uint8_t fileId)
{
    return Call(Begin(CmdCreateFile).Session(session).Byte(fileId));
}

uint32_t ZrSCard::DeleteFile(const uint8_t* session, uint8_t fileId)
{
    return Call(Begin(CmdDeleteFile).Session(session).Byte(fileId));
}

uint32_t ZrSCard::GetFileSize(const uint8_t* session, uint8_t fileId, uint16_t& size)
{
    return Call(Begin(CmdGetFileSize).Session(session).Byte(fileId),
                [&](AnswerFields& f) { return f.U16(size); });
}

uint32_t ZrSCard::WriteFile(const uint8_t* session, uint8_t fileId, uint32_t offset, size_t length,
                            const uint8_t* data)
{
    if (length == 0) {
        return devrc::kSuccess;
    }
    if (data == nullptr || offset >= kFileSpan || length > kFileSpan - offset) {
        return devrc::kParam;
    }
    uint32_t rc = devrc::kSuccess;
    for (size_t done = 0; done < length && rc == 0; ) {
        const size_t n = std::min(length - done, kFileChunk);
        rc = Call(Begin(CmdWriteFile)
                      .Session(session)
                      .Byte(fileId)
                      .U16(static_cast<uint16_t>(offset + done))
                      .Byte(static_cast<uint8_t>(n))
                      .Bytes(data + done, n));
        done += n;
    }
    return rc;
}

uint32_t ZrSCard::ReadFile(const uint8_t* session, uint8_t fileId, uint32_t offset, size_t count, uint8_t* out)
{
    if (count == 0) {
        return devrc::kSuccess;
    }
    if (out == nullptr || offset >= kFileSpan || count > kFileSpan - offset) {
        return devrc::kParam;
    }
    uint32_t rc = devrc::kSuccess;
    for (size_t done = 0; done < count && rc == 0; ) {
        const size_t n = std::min(count - done, kFileChunk);
        rc = Call(Begin(CmdReadFile)
                      .Session(session)
                      .Byte(fileId)
                      .U16(static_cast<uint16_t>(offset + done))
                      .Byte(static_cast<uint8_t>(n)),
                  [&](AnswerFields& f) { return f.Bytes(out + done, n); });
        done += n;
    }
    return rc;
}

uint32_t ZrSCard::GetAttr(uint8_t attributeId, size_t* length, uint8_t* out)
{
    if (const uint32_t rc = NeedOutput(length)) {
        return rc;
    }
    return Call(Begin(CmdGetAttr).Byte(attributeId), [&](AnswerFields& f) {
        uint8_t announced = 0;
        if (f.Byte(announced) != 0 || announced != f.Remaining()) {
            return devrc::kGeneralFailure;
        }
        if (announced > *length) {
            *length = announced;
            return out != nullptr ? devrc::kSize : devrc::kSuccess;
        }
        *length = announced;
        return out != nullptr ? f.Bytes(out, announced) : devrc::kSuccess;
    });
}

uint32_t ZrSCard::SetAttr(uint8_t attributeId, size_t length, const uint8_t* value)
{
    return Call(Begin(CmdSetAttr).Byte(attributeId).ShortField(value, length));
}

uint32_t ZrSCard::SetResponseDelay(uint16_t delay)
{
    return Call(Begin(CmdSetResponseDelay).U16(delay));
}

uint32_t ZrSCard::TestResponseDelay(uint16_t delay, uint8_t* out, size_t outSize)
{
    if (delay != 0 && out == nullptr) {
        return devrc::kParam;
    }
    if (delay > outSize) {
        return devrc::kSize;
    }
    return Call(Begin(CmdTestResponseDelay).U16(delay), [&](AnswerFields& f) { return f.Bytes(out, delay); });
}

uint32_t ZrSCard::InitSOPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* random, size_t randomLength,
                            const uint8_t* label, size_t labelLength)
{
    return Call(Begin(CmdInitSOPIN)
                    .ShortField(soPin, soPinLength)
                    .ShortField(random, randomLength)
                    .ShortField(label, labelLength));
}

uint32_t ZrSCard::InitUserPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* userPin,
                              size_t userPinLength)
{
    return Call(Begin(CmdInitUserPIN).ShortField(soPin, soPinLength).ShortField(userPin, userPinLength));
}

uint32_t ZrSCard::ChangeSOPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin, size_t newLength)
{
    return Call(Begin(CmdChangeSOPIN).ShortField(oldPin, oldLength).ShortField(newPin, newLength));
}

uint32_t ZrSCard::ChangeUserPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin, size_t newLength,
                                const uint8_t* random, size_t randomLength)
{
    return Call(Begin(CmdChangeUserPIN)
                    .ShortField(oldPin, oldLength)
                    .ShortField(newPin, newLength)
                    .ShortField(random, randomLength));
}

uint32_t ZrSCard::CheckSOPIN(const uint8_t* pin, size_t length)
{
    return Call(Begin(CmdCheckSOPIN).ShortField(pin, length));
}

uint32_t ZrSCard::CheckUserPIN(const uint8_t* pin, size_t length)
{
    return Call(Begin(CmdCheckUserPIN).ShortField(pin, length));
}

uint32_t ZrSCard::ResetDevice(const uint8_t* data, size_t length)
{
    return Call(Begin(CmdResetDevice).ShortField(data, length));
}

uint32_t ZrSCard::OpenSession(uint8_t* session)
{
    if (session == nullptr) {
        return devrc::kParam;
    }
    return Call(Begin(CmdOpenSession), [&](AnswerFields& f) { return f.Bytes(session, kDeviceSessionSize); });
}

uint32_t ZrSCard::CloseSession(const uint8_t* session)
{
    return Call(Begin(CmdCloseSession).Session(session));
}

uint32_t ZrSCard::Login(const uint8_t* session, const uint8_t* pin, size_t length)
{
    return Call(Begin(CmdLogin).Session(session).ShortField(pin, length));
}

uint32_t ZrSCard::Logout(const uint8_t* session)
{
    return Call(Begin(CmdLogout).Session(session));
}

uint32_t ZrSCard::GetSessionState(const uint8_t* session, uint32_t& state)
{
    return Call(Begin(CmdGetSessionState).Session(session), [&](AnswerFields& f) { return f.U32(state); });
}

uint32_t ZrSCard::GetFirmwareIntegrityCode(size_t inputLength, const uint8_t* input, size_t* length, uint8_t* out)
{
    if (const uint32_t rc = NeedOutput(length)) {
        return rc;
    }
    return Call(Begin(CmdGetFirmwareIntegrityCode).ShortField(input, inputLength),
                [&](AnswerFields& f) { return TakeSizedOutput(f, true, out, length); });
}

uint32_t ZrSCard::SetMaxAuthCtr(const uint8_t* soPin, size_t length, uint32_t count)
{
    if (length > kMaxAuthCtrPin) {
        return devrc::kParam;
    }
    CommandData data = Begin(CmdSetMaxAuthCtr);
    data.ShortField(soPin, length).U32(count);
    data.Zeros(kSetMaxAuthCtrData - data.Size());
    return Call(data);
}

uint32_t ZrSCard::GetRand(const uint8_t* session, uint8_t* out, size_t count, const uint8_t* seed,
                          size_t seedLength)
{
    if (count > kMaxRandomChunk || seedLength > kMaxRandomChunk) {
        return devrc::kSize;
    }
    if (count != 0 && out == nullptr) {
        return devrc::kParam;
    }
    return Call(Begin(CmdGetRand).Session(session).Byte(static_cast<uint8_t>(count)).ShortField(seed, seedLength),
                [&](AnswerFields& f) { return f.Bytes(out, count); });
}

uint32_t ZrSCard::GenerateKey(const uint8_t* session, EParamSet paramSet, uint8_t keySlot, size_t* length,
                              uint8_t* out)
{
    if (const uint32_t rc = NeedOutput(length)) {
        return rc;
    }
    return Call(Begin(CmdGenerateKey).Session(session).Byte(paramSet).Byte(keySlot),
                [&](AnswerFields& f) { return TakeSizedOutput(f, false, out, length); });
}

uint32_t ZrSCard::Sign(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength,
                       size_t* length, uint8_t* out)
{
    if (const uint32_t rc = NeedOutput(length)) {
        return rc;
    }
    return Call(Begin(CmdSign).Session(session).Byte(keySlot).LongField(data, dataLength),
                [&](AnswerFields& f) { return TakeSizedOutput(f, false, out, length); });
}

uint32_t ZrSCard::Verify(const uint8_t* session, EParamSet paramSet, size_t keyLength, const uint8_t* key,
                         size_t signatureLength, const uint8_t* signature, size_t dataLength, const uint8_t* data)
{
    return Call(Begin(CmdVerify)
                    .Session(session)
                    .Byte(paramSet)
                    .LongField(key, keyLength)
                    .LongField(signature, signatureLength)
                    .LongField(data, dataLength));
}

uint32_t ZrSCard::Encrypt(const uint8_t* session, EParamSet paramSet, size_t keyLength, const uint8_t* key,
                          size_t dataLength, const uint8_t* data, size_t* length, uint8_t* out)
{
    if (const uint32_t rc = NeedOutput(length)) {
        return rc;
    }
    return Call(Begin(CmdEncrypt)
                    .Session(session)
                    .Byte(paramSet)
                    .LongField(key, keyLength)
                    .LongField(data, dataLength)
                    .Zeros(kEncryptFiller),
                [&](AnswerFields& f) { return TakeSizedOutput(f, false, out, length); });
}

uint32_t ZrSCard::Decrypt(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength,
                          size_t* length, uint8_t* out)
{
    if (const uint32_t rc = NeedOutput(length)) {
        return rc;
    }
    return Call(Begin(CmdDecrypt).Session(session).Byte(keySlot).LongField(data, dataLength),
                [&](AnswerFields& f) { return TakeSizedOutput(f, false, out, length); });
}

uint32_t ZrSCard::GetCommonKey(const uint8_t* session, uint8_t keySlot, size_t peerLength, const uint8_t* peer,
                               uint8_t flag, size_t firstLength, const uint8_t* first, uint32_t word,
                               size_t secondLength, const uint8_t* second, size_t* length, uint8_t* out)
{
    if (const uint32_t rc = NeedOutput(length)) {
        return rc;
    }
    return Call(Begin(CmdGetCommonKey)
                    .Session(session)
                    .Byte(keySlot)
                    .LongField(peer, peerLength)
                    .Byte(flag)
                    .LongField(first, firstLength)
                    .U32(word)
                    .LongField(second, secondLength),
                [&](AnswerFields& f) { return TakeSizedOutput(f, false, out, length); });
}

uint32_t ZrSCard::LoadKey(const uint8_t* session, EParamSet paramSet, size_t blobLength, const uint8_t* blob,
                          uint8_t keySlot)
{
    return Call(Begin(CmdLoadKey).Session(session).Byte(paramSet).LongField(blob, blobLength).Byte(keySlot));
}
