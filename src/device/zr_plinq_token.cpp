#include "device/zr_plinq_token.h"

#include <cstring>

#include "device/apdu.h"
#include "device/device_results.h"
#include "device/media_zrsc.h"
#include "tru2/exception.h"

ZrPlinqToken::ZrPlinqToken() : media_(std::make_unique<MediaZrSC>()) {}

ZrPlinqToken::ZrPlinqToken(std::unique_ptr<Media> media) : media_(std::move(media)) {}

ZrPlinqToken::~ZrPlinqToken() = default;

template <typename Operation>
uint32_t ZrPlinqToken::Forward(Operation&& operation)
{
    try {
        return operation();
    } catch (const tru::Exception& e) {
        return static_cast<uint32_t>(e.GetCode());
    }
}

uint32_t ZrPlinqToken::GetAmount(uint32_t* count)
{
    if (count == nullptr) {
        return devrc::kInvalidHandle;
    }
    uint32_t found = 0;
    const uint32_t rc = Forward([&] { return media_->GetAmount(&found); });
    if (rc == 0) {
        *count = found;
    }
    return rc;
}

uint32_t ZrPlinqToken::GetReaderName(uint32_t index, std::string& name)
{
    return Forward([&] { return media_->GetReaderName(index, name); });
}

uint32_t ZrPlinqToken::Open(uint32_t index, uint32_t shareMode)
{
    return Forward([&] { return media_->Open(index, shareMode); });
}

uint32_t ZrPlinqToken::OpenByHandle(SCARDHANDLE handle)
{
    return Forward([&] { return media_->OpenByHandle(handle); });
}

uint32_t ZrPlinqToken::GetHandle(SCARDHANDLE* handle)
{
    if (handle == nullptr) {
        return devrc::kInvalidHandle;
    }
    SCARDHANDLE current = 0;
    const uint32_t rc = Forward([&] { return media_->GetHandle(&current); });
    if (rc == 0) {
        *handle = current;
    }
    return rc;
}

uint32_t ZrPlinqToken::Reopen()
{
    return Forward([&] { return media_->Reopen(); });
}

uint32_t ZrPlinqToken::Close()
{
    return devrc::kSuccess;
}

uint32_t ZrPlinqToken::BeginTransaction()
{
    return Forward([&] { return media_->BeginTransaction(); });
}

uint32_t ZrPlinqToken::EndTransaction()
{
    return Forward([&] { return media_->EndTransaction(); });
}

uint32_t ZrPlinqToken::GetSlotAttr(uint32_t attributeId, uint8_t* out, size_t* length)
{
    return Forward([&] { return media_->GetSlotAttr(attributeId, out, length); });
}

uint32_t ZrPlinqToken::GetAttr(uint8_t attributeId, uint8_t* out, size_t* length)
{
    return Forward([&] { return media_->GetAttr(attributeId, out, length); });
}

uint32_t ZrPlinqToken::SetAttr(uint8_t attributeId, const uint8_t* value, size_t length)
{
    return Forward([&] { return media_->SetAttr(attributeId, value, length); });
}

uint32_t ZrPlinqToken::ReadCardStatus(tru::BufferDynamic& readerName, uint32_t* state, tru::BufferDynamic& atr)
{
    return Forward([&] { return media_->ReadCardStatus(readerName, state, atr); });
}

uint32_t ZrPlinqToken::ReadTextAttribute(uint8_t attributeId, uint8_t* field, size_t width)
{
    std::memset(field, ' ', width);
    size_t length = width;
    return GetAttr(attributeId, field, &length);
}

uint32_t ZrPlinqToken::ReadWordAttribute(uint8_t attributeId, uint32_t& word)
{
    uint8_t bytes[4] = {0, 0, 0, 0};
    size_t length = sizeof(bytes);
    const uint32_t rc = GetAttr(attributeId, bytes, &length);
    if (rc == 0) {
        word = LoadLe32(bytes);
    }
    return rc;
}

uint32_t ZrPlinqToken::GetTokenInfo(_TokenInfo_Struct* info)
{
    if (info == nullptr) {
        return devrc::kParam;
    }
    uint32_t rc;
    if ((rc = ReadTextAttribute(AttrLabel, info->label, sizeof(info->label))) != 0 ||
        (rc = ReadTextAttribute(AttrManufacturer, info->manufacturerID, sizeof(info->manufacturerID))) != 0 ||
        (rc = ReadTextAttribute(AttrModel, info->model, sizeof(info->model))) != 0 ||
        (rc = ReadTextAttribute(AttrSerialNumber, info->serialNumber, sizeof(info->serialNumber))) != 0) {
        return rc;
    }
    uint32_t version = 0;
    if ((rc = ReadWordAttribute(AttrVersion, version)) != 0) {
        return rc;
    }
    info->versionMajor = static_cast<uint8_t>(version >> 24);
    info->versionMinor = static_cast<uint8_t>(version >> 16);

    uint32_t flags = 0;
    if ((rc = ReadWordAttribute(AttrFlags, flags)) != 0) {
        return rc;
    }
    info->tokenInitialized = (flags & FlagTokenInitialized) ? 1 : 0;
    info->userPinInitialized = (flags & FlagUserPinInitialized) ? 1 : 0;
    info->userPinCountLow = (flags & FlagUserPinCountLow) ? 1 : 0;
    info->userPinFinalTry = (flags & FlagUserPinFinalTry) ? 1 : 0;
    info->userPinLocked = (flags & FlagUserPinLocked) ? 1 : 0;
    return devrc::kSuccess;
}

uint32_t ZrPlinqToken::InitSOPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* random,
                                 size_t randomLength, const uint8_t* label, size_t labelLength)
{
    return Forward([&] { return media_->InitSOPIN(soPin, soPinLength, random, randomLength, label, labelLength); });
}

uint32_t ZrPlinqToken::InitUserPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* userPin,
                                   size_t userPinLength)
{
    return Forward([&] { return media_->InitUserPIN(soPin, soPinLength, userPin, userPinLength); });
}

uint32_t ZrPlinqToken::ChangeSOPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin,
                                   size_t newLength)
{
    return Forward([&] { return media_->ChangeSOPIN(oldPin, oldLength, newPin, newLength); });
}

uint32_t ZrPlinqToken::ChangeUserPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin,
                                     size_t newLength, const uint8_t* random, size_t randomLength)
{
    return Forward(
        [&] { return media_->ChangeUserPIN(oldPin, oldLength, newPin, newLength, random, randomLength); });
}

uint32_t ZrPlinqToken::CheckSOPIN(const uint8_t* pin, size_t length)
{
    return Forward([&] { return media_->CheckSOPIN(pin, length); });
}

uint32_t ZrPlinqToken::CheckUserPIN(const uint8_t* pin, size_t length)
{
    return Forward([&] { return media_->CheckUserPIN(pin, length); });
}

uint32_t ZrPlinqToken::ResetDevice(const uint8_t* data, size_t length)
{
    return Forward([&] { return media_->ResetDevice(data, length); });
}

uint32_t ZrPlinqToken::SetMaxAuthCtr(const uint8_t* soPin, size_t length, uint32_t count)
{
    return Forward([&] { return media_->SetMaxAuthCtr(soPin, length, count); });
}

uint32_t ZrPlinqToken::GetFirmwareIntegrityCode(const uint8_t* input, size_t inputLength, uint8_t* out,
                                                size_t* length)
{
    return Forward([&] { return media_->GetFirmwareIntegrityCode(input, inputLength, out, length); });
}

uint32_t ZrPlinqToken::OpenSession(uint8_t* session)
{
    return Forward([&] { return media_->OpenSession(session); });
}

uint32_t ZrPlinqToken::CloseSession(const uint8_t* session)
{
    return Forward([&] { return media_->CloseSession(session); });
}

uint32_t ZrPlinqToken::Login(const uint8_t* session, const uint8_t* pin, size_t length)
{
    return Forward([&] { return media_->Login(session, pin, length); });
}

uint32_t ZrPlinqToken::Logout(const uint8_t* session)
{
    return Forward([&] { return media_->Logout(session); });
}

uint32_t ZrPlinqToken::GetSessionState(const uint8_t* session, uint32_t* state)
{
    return Forward([&] { return media_->GetSessionState(session, state); });
}

uint32_t ZrPlinqToken::IsFileExists(const uint8_t* session, uint8_t fileId, bool* exists)
{
    return Forward([&] { return media_->IsFileExists(session, fileId, exists); });
}

uint32_t ZrPlinqToken::GetFileSize(const uint8_t* session, uint8_t fileId, uint32_t* size)
{
    if (size == nullptr) {
        return devrc::kInvalidHandle;
    }
    uint32_t found = 0;
    const uint32_t rc = Forward([&] { return media_->GetFileSize(session, fileId, &found); });
    if (rc == 0) {
        *size = found;
    }
    return rc;
}

uint32_t ZrPlinqToken::GetExistingFileSize(const uint8_t* session, uint8_t fileId, uint32_t* size)
{
    return Forward([&] { return media_->GetExistingFileSize(session, fileId, size); });
}

uint32_t ZrPlinqToken::CreateFile(const uint8_t* session, uint8_t fileId, EPersistence persistence)
{
    return Forward([&] { return media_->CreateFile(session, fileId, persistence); });
}

uint32_t ZrPlinqToken::DeleteFile(const uint8_t* session, uint8_t fileId)
{
    return Forward([&] { return media_->DeleteFile(session, fileId); });
}

uint32_t ZrPlinqToken::ReadFile(const uint8_t* session, uint8_t fileId, uint8_t* out, size_t* length)
{
    return Forward([&] { return media_->ReadFile(session, fileId, out, length); });
}

uint32_t ZrPlinqToken::ReadFileAt(const uint8_t* session, uint8_t fileId, uint32_t offset, uint8_t* out,
                                  size_t count)
{
    return Forward([&] { return media_->ReadFileAt(session, fileId, offset, out, count); });
}

uint32_t ZrPlinqToken::WriteFile(const uint8_t* session, uint8_t fileId, uint32_t offset, const uint8_t* data,
                                 size_t length)
{
    return Forward([&] { return media_->WriteFile(session, fileId, offset, data, length); });
}

uint32_t ZrPlinqToken::GetRandom(const uint8_t* session, uint8_t* out, size_t count, const uint8_t* seed,
                                 size_t seedLength)
{
    return Forward([&] { return media_->GetRandom(session, out, count, seed, seedLength); });
}

uint32_t ZrPlinqToken::LoadKey(const uint8_t* session, EParamSet paramSet, EPersistence, const uint8_t* blob,
                               size_t blobLength, uint8_t keySlot)
{
    return Forward([&] { return media_->LoadKey(session, paramSet, blob, blobLength, keySlot); });
}

uint32_t ZrPlinqToken::GenerateKeyPair(const uint8_t* session, EParamSet paramSet, EPersistence persistence,
                                       uint8_t* out, size_t* length, uint8_t keySlot)
{
    return Forward([&] { return media_->GenerateKeyPair(session, paramSet, keySlot, persistence, out, length); });
}

uint32_t ZrPlinqToken::GetSignature(const uint8_t* session, uint8_t keySlot, const uint8_t* data,
                                    size_t dataLength, uint8_t* out, size_t* length)
{
    return Forward([&] { return media_->GetSignature(session, keySlot, data, dataLength, out, length); });
}

uint32_t ZrPlinqToken::VerifySignature(const uint8_t* session, const uint8_t* key, size_t keyLength,
                                       EParamSet paramSet, const uint8_t* data, size_t dataLength,
                                       const uint8_t* signature, size_t signatureLength)
{
    return Forward([&] {
        return media_->VerifySignature(session, paramSet, key, keyLength, signature, signatureLength, data,
                                       dataLength);
    });
}

uint32_t ZrPlinqToken::Encrypt(const uint8_t* session, const uint8_t* key, size_t keyLength, EParamSet paramSet,
                               const uint8_t* data, size_t dataLength, uint8_t* out, size_t* length)
{
    return Forward([&] { return media_->Encrypt(session, paramSet, key, keyLength, data, dataLength, out, length); });
}

uint32_t ZrPlinqToken::Decrypt(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength,
                               uint8_t* out, size_t* length)
{
    return Forward([&] { return media_->Decrypt(session, keySlot, data, dataLength, out, length); });
}

uint32_t ZrPlinqToken::GetCommonKey(const uint8_t* session, uint8_t keySlot, const uint8_t* peer,
                                    size_t peerLength, uint8_t flag, const uint8_t* first, size_t firstLength,
                                    uint32_t word, const uint8_t* second, size_t secondLength, uint8_t* out,
                                    size_t* length)
{
    return Forward([&] {
        return media_->GetCommonKey(session, keySlot, peer, peerLength, flag, first, firstLength, word, second,
                                    secondLength, out, length);
    });
}

uint32_t ZrPlinqToken::ExportPublicKey(const uint8_t*, uint8_t, uint8_t*, size_t*, EParamSet*)
{
    return devrc::kNotSupported;
}

uint32_t ZrPlinqToken::TestResponseDelay(uint16_t delay, uint8_t* out, size_t outSize)
{
    return Forward([&] { return media_->TestResponseDelay(delay, out, outSize); });
}

uint32_t ZrPlinqToken::SetResponseDelay(uint16_t delay)
{
    return Forward([&] { return media_->SetResponseDelay(delay); });
}
