#include "device/media_zrsc.h"

#include <PCSC/pcsclite.h>

#include "device/device_results.h"
#include "tru2/exception.h"

namespace {

constexpr size_t kCommonKeySize = 32;

// A failure of SCardGetAttrib that says the card or the reader is gone (or must be reconnected);
// any other failure only means the reader cannot give this attribute.
bool ConnectionLost(uint32_t rc)
{
    switch (rc) {
    case SCARD_W_REMOVED_CARD:
    case SCARD_W_RESET_CARD:
    case SCARD_W_UNPOWERED_CARD:
    case SCARD_E_NO_SMARTCARD:
    case SCARD_E_READER_UNAVAILABLE:
    case SCARD_E_UNKNOWN_READER:
    case SCARD_E_INVALID_HANDLE:
    case SCARD_E_NO_SERVICE:
    case SCARD_E_SERVICE_STOPPED:
    case SCARD_E_NO_MEMORY:
        return true;
    default:
        return false;
    }
}

bool IsPcscCode(uint32_t rc)
{
    return (rc & 0xFFFF0000u) == 0x80100000u;
}

}  // namespace

size_t MediaZrSC::PublicKeySize(EParamSet paramSet)
{
    switch (paramSet) {
    case GostR3410_2001_ParamSetA:
    case GostR3410_2001_ParamSetB:
    case GostR3410_2001_ParamSetC:
        return 64;
    case RSA_sign_1024:
        return 135;
    case RSA_sign_1536:
        return 199;
    case RSA_sign_2048:
        return 263;
    case DSTU4145_POLYNOMIAL_0:
    case DSTU4145_POLYNOMIAL_4:
    case DSTU4145_POLYNOMIAL_6:
    case DSTU4145_POLYNOMIAL_9:
        return 54;
    case RSA_sign_512:
        return 71;
    case DSA_ECP_SECP192R1:
        return 49;
    case DSA_ECP_SECP256R1:
        return 65;
    case DSA_ECP_SECP521R1:
        return 133;
    default:
        return 0;
    }
}

ZrSCard& MediaZrSC::Device()
{
    if (!device_) {
        throw tru::Exception(devrc::kNoDevice);
    }
    return *device_;
}

ZrSCard& MediaZrSC::DeviceOrCreate()
{
    if (!device_) {
        device_ = std::make_unique<ZrSCard>(0, false);
    }
    return *device_;
}

uint32_t MediaZrSC::GetAmount(uint32_t* count)
{
    if (count == nullptr) {
        return devrc::kInvalidHandle;
    }
    return DeviceOrCreate().GetAmount(*count);
}

uint32_t MediaZrSC::GetReaderName(uint32_t index, std::string& name)
{
    return DeviceOrCreate().GetReaderName(index, name);
}

uint32_t MediaZrSC::Open(uint32_t index, uint32_t shareMode)
{
    return DeviceOrCreate().Open(index, shareMode);
}

uint32_t MediaZrSC::OpenByHandle(SCARDHANDLE handle)
{
    // The application's handle stays the application's: never disconnected by us. Its protocol
    // is read from the connection, since an application may have connected with T=0.
    device_ = std::make_unique<ZrSCard>(handle, false);
    return devrc::kSuccess;
}

uint32_t MediaZrSC::GetHandle(SCARDHANDLE* handle)
{
    if (handle == nullptr) {
        return devrc::kInvalidHandle;
    }
    *handle = Device().GetHandle();
    return devrc::kSuccess;
}

uint32_t MediaZrSC::Reopen()
{
    return Device().Reopen(SCARD_SHARE_SHARED);
}

uint32_t MediaZrSC::BeginTransaction()
{
    return Device().BeginTransaction();
}

uint32_t MediaZrSC::EndTransaction()
{
    return Device().EndTransaction();
}

uint32_t MediaZrSC::GetSlotAttr(uint32_t attributeId, uint8_t* out, size_t* length)
{
    if (length == nullptr) {
        return devrc::kInvalidHandle;
    }
    const uint32_t rc = Device().GetSlotAttr(attributeId, out, *length);
    // Readers answer an attribute they lack with a variety of PC/SC codes; report them all as
    // "not supported" so that a missing attribute never looks like a lost token.
    if (IsPcscCode(rc) && !ConnectionLost(rc)) {
        return SCARD_E_UNSUPPORTED_FEATURE;
    }
    return rc;
}

uint32_t MediaZrSC::GetAttr(uint8_t attributeId, uint8_t* out, size_t* length)
{
    if (length == nullptr) {
        return devrc::kInvalidHandle;
    }
    return Device().GetAttr(attributeId, length, out);
}

uint32_t MediaZrSC::SetAttr(uint8_t attributeId, const uint8_t* value, size_t length)
{
    return Device().SetAttr(attributeId, length, value);
}

uint32_t MediaZrSC::ReadCardStatus(tru::BufferDynamic& readerName, uint32_t* state, tru::BufferDynamic& atr)
{
    if (state == nullptr) {
        return devrc::kInvalidHandle;
    }
    return Device().ReadCardStatus(readerName, *state, atr);
}

uint32_t MediaZrSC::InitSOPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* random, size_t randomLength,
                              const uint8_t* label, size_t labelLength)
{
    return Device().InitSOPIN(soPin, soPinLength, random, randomLength, label, labelLength);
}

uint32_t MediaZrSC::InitUserPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* userPin,
                                size_t userPinLength)
{
    return Device().InitUserPIN(soPin, soPinLength, userPin, userPinLength);
}

uint32_t MediaZrSC::ChangeSOPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin, size_t newLength)
{
    return Device().ChangeSOPIN(oldPin, oldLength, newPin, newLength);
}

uint32_t MediaZrSC::ChangeUserPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin,
                                  size_t newLength, const uint8_t* random, size_t randomLength)
{
    return Device().ChangeUserPIN(oldPin, oldLength, newPin, newLength, random, randomLength);
}

uint32_t MediaZrSC::CheckSOPIN(const uint8_t* pin, size_t length)
{
    return Device().CheckSOPIN(pin, length);
}

uint32_t MediaZrSC::CheckUserPIN(const uint8_t* pin, size_t length)
{
    return Device().CheckUserPIN(pin, length);
}

uint32_t MediaZrSC::ResetDevice(const uint8_t* data, size_t length)
{
    return Device().ResetDevice(data, length);
}

uint32_t MediaZrSC::OpenSession(uint8_t* session)
{
    return Device().OpenSession(session);
}

uint32_t MediaZrSC::CloseSession(const uint8_t* session)
{
    return Device().CloseSession(session);
}

uint32_t MediaZrSC::Logout(const uint8_t* session)
{
    return Device().Logout(session);
}

uint32_t MediaZrSC::Login(const uint8_t* session, const uint8_t* pin, size_t length)
{
    return Device().Login(session, pin, length);
}

uint32_t MediaZrSC::GetSessionState(const uint8_t* session, uint32_t* state)
{
    if (state == nullptr) {
        return devrc::kInvalidHandle;
    }
    return Device().GetSessionState(session, *state);
}

uint32_t MediaZrSC::SetMaxAuthCtr(const uint8_t* soPin, size_t length, uint32_t count)
{
    return Device().SetMaxAuthCtr(soPin, length, count);
}

uint32_t MediaZrSC::GetFirmwareIntegrityCode(const uint8_t* input, size_t inputLength, uint8_t* out,
                                             size_t* length)
{
    if (length == nullptr) {
        return devrc::kInvalidHandle;
    }
    return Device().GetFirmwareIntegrityCode(inputLength, input, length, out);
}

uint32_t MediaZrSC::IsFileExists(const uint8_t* session, uint8_t fileId, bool* exists)
{
    if (exists == nullptr) {
        return devrc::kInvalidHandle;
    }
    *exists = false;
    uint16_t size = 0;
    const uint32_t rc = Device().GetFileSize(session, fileId, size);
    if (rc == devrc::kFileNotFound) {
        return devrc::kSuccess;
    }
    if (rc == 0) {
        *exists = true;
    }
    return rc;
}

uint32_t MediaZrSC::GetFileSize(const uint8_t* session, uint8_t fileId, uint32_t* size)
{
    if (size == nullptr) {
        return devrc::kInvalidHandle;
    }
    uint16_t fileSize = 0;
    const uint32_t rc = Device().GetFileSize(session, fileId, fileSize);
    if (rc == devrc::kFileNotFound) {
        *size = 0;
        return devrc::kSuccess;
    }
    if (rc == 0) {
        *size = fileSize;
    }
    return rc;
}

uint32_t MediaZrSC::GetExistingFileSize(const uint8_t* session, uint8_t fileId, uint32_t* size)
{
    if (size == nullptr) {
        return devrc::kInvalidHandle;
    }
    uint16_t fileSize = 0;
    const uint32_t rc = Device().GetFileSize(session, fileId, fileSize);
    if (rc == 0) {
        *size = fileSize;
    }
    return rc;
}

uint32_t MediaZrSC::CreateFile(const uint8_t* session, uint8_t fileId, EPersistence)
{
    return Device().CreateFile(session, fileId);
}

uint32_t MediaZrSC::DeleteFile(const uint8_t* session, uint8_t fileId)
{
    const uint32_t rc = Device().DeleteFile(session, fileId);
    return rc == devrc::kFileNotFound ? devrc::kSuccess : rc;
}

uint32_t MediaZrSC::ReadFile(const uint8_t* session, uint8_t fileId, uint8_t* out, size_t* length)
{
    if (length == nullptr) {
        return devrc::kInvalidHandle;
    }
    uint16_t size = 0;
    const uint32_t rc = Device().GetFileSize(session, fileId, size);
    if (rc != 0) {
        return rc;
    }
    const size_t capacity = *length;
    *length = size;
    if (out == nullptr) {
        return devrc::kSuccess;
    }
    if (capacity < size) {
        return devrc::kSize;
    }
    return Device().ReadFile(session, fileId, 0, size, out);
}

uint32_t MediaZrSC::ReadFileAt(const uint8_t* session, uint8_t fileId, uint32_t offset, uint8_t* out, size_t count)
{
    return Device().ReadFile(session, fileId, offset, count, out);
}

uint32_t MediaZrSC::WriteFile(const uint8_t* session, uint8_t fileId, uint32_t offset, const uint8_t* data,
                              size_t length)
{
    return Device().WriteFile(session, fileId, offset, length, data);
}

uint32_t MediaZrSC::GetRandom(const uint8_t* session, uint8_t* out, size_t count, const uint8_t* seed,
                              size_t seedLength)
{
    return Device().GetRand(session, out, count, seed, seedLength);
}

uint32_t MediaZrSC::GenerateKeyPair(const uint8_t* session, EParamSet paramSet, uint8_t keySlot, EPersistence,
                                    uint8_t* out, size_t* length)
{
    if (length == nullptr) {
        return devrc::kInvalidHandle;
    }
    const size_t needed = PublicKeySize(paramSet);
    if (needed == 0) {
        return devrc::kBadParamSet;
    }
    if (out == nullptr || *length < needed) {
        *length = needed;
        return out != nullptr ? devrc::kSize : devrc::kSuccess;
    }
    size_t produced = needed;
    const uint32_t rc = Device().GenerateKey(session, paramSet, keySlot, &produced, out);
    *length = produced;
    return rc;
}

uint32_t MediaZrSC::GetSignature(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength,
                                 uint8_t* out, size_t* length)
{
    if (length == nullptr) {
        return devrc::kInvalidHandle;
    }
    return Device().Sign(session, keySlot, data, dataLength, length, out);
}

uint32_t MediaZrSC::VerifySignature(const uint8_t* session, EParamSet paramSet, const uint8_t* key,
                                    size_t keyLength, const uint8_t* signature, size_t signatureLength,
                                    const uint8_t* data, size_t dataLength)
{
    return Device().Verify(session, paramSet, keyLength, key, signatureLength, signature, dataLength, data);
}

uint32_t MediaZrSC::Encrypt(const uint8_t* session, EParamSet paramSet, const uint8_t* key, size_t keyLength,
                            const uint8_t* data, size_t dataLength, uint8_t* out, size_t* length)
{
    if (length == nullptr) {
        return devrc::kInvalidHandle;
    }
    return Device().Encrypt(session, paramSet, keyLength, key, dataLength, data, length, out);
}

uint32_t MediaZrSC::Decrypt(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength,
                            uint8_t* out, size_t* length)
{
    if (length == nullptr) {
        return devrc::kInvalidHandle;
    }
    return Device().Decrypt(session, keySlot, data, dataLength, length, out);
}

uint32_t MediaZrSC::GetCommonKey(const uint8_t* session, uint8_t keySlot, const uint8_t* peer, size_t peerLength,
                                 uint8_t flag, const uint8_t* first, size_t firstLength, uint32_t word,
                                 const uint8_t* second, size_t secondLength, uint8_t* out, size_t* length)
{
    if (length == nullptr) {
        return devrc::kInvalidHandle;
    }
    if (out == nullptr || *length < kCommonKeySize) {
        *length = kCommonKeySize;
        return out != nullptr ? devrc::kSize : devrc::kSuccess;
    }
    size_t produced = kCommonKeySize;
    const uint32_t rc = Device().GetCommonKey(session, keySlot, peerLength, peer, flag, firstLength, first, word,
                                              secondLength, second, &produced, out);
    *length = produced;
    return rc;
}

uint32_t MediaZrSC::LoadKey(const uint8_t* session, EParamSet paramSet, const uint8_t* blob, size_t blobLength,
                            uint8_t keySlot)
{
    return Device().LoadKey(session, paramSet, blobLength, blob, keySlot);
}

uint32_t MediaZrSC::TestResponseDelay(uint16_t delay, uint8_t* out, size_t outSize)
{
    return Device().TestResponseDelay(delay, out, outSize);
}

uint32_t MediaZrSC::SetResponseDelay(uint16_t delay)
{
    return Device().SetResponseDelay(delay);
}

uint32_t MediaZrSC::GenerateKey(const uint8_t*, const std::string&, EParamSet, tru::BufferDynamic&)
{
    return devrc::kNotImplemented;
}

uint32_t MediaZrSC::Sign(const uint8_t*, const std::string&, const uint8_t*, size_t, uint8_t*, size_t*)
{
    return devrc::kNotImplemented;
}

uint32_t MediaZrSC::KeyPairDH(const uint8_t*, const std::string&, const uint8_t*, size_t, const uint8_t*,
                              uint8_t*, size_t*)
{
    return devrc::kNotImplemented;
}

uint32_t MediaZrSC::isObjectExists(const uint8_t*, bool*, const std::string&, EObject)
{
    return devrc::kNotImplemented;
}

uint32_t MediaZrSC::ExportPublicKey(const uint8_t*, const std::string&, size_t*, uint8_t*)
{
    return devrc::kNotImplemented;
}

uint32_t MediaZrSC::SaveCert(const uint8_t*, const std::string&, const tru::Buffer&)
{
    return devrc::kNotImplemented;
}

uint32_t MediaZrSC::GetObjectParamSet(const uint8_t*, EParamSet*, const std::string&)
{
    return devrc::kNotImplemented;
}

uint32_t MediaZrSC::GetObjectsCount(const uint8_t*, uint32_t*)
{
    return devrc::kNotImplemented;
}

uint32_t MediaZrSC::ReadObject(const uint8_t*, tru::BufferDynamic&, EParamSet*, const std::string&, EObject)
{
    return devrc::kNotImplemented;
}

uint32_t MediaZrSC::DeleteObject(const uint8_t*, const std::string&)
{
    return devrc::kNotImplemented;
}
