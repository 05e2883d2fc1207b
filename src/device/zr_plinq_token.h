#pragma once

#include <memory>

#include "device/media.h"
#include "device/token_info.h"

// The driver's only door to a token. Each operation forwards to the Media operation of the same
// name and returns its 32-bit result; a tru::Exception from below (no PC/SC context, no device yet:
// 1200, memory) becomes its code, so nothing of the base library escapes.
class ZrPlinqToken {
public:
    ZrPlinqToken();
    // Works over the given medium (a seam for tests).
    explicit ZrPlinqToken(std::unique_ptr<Media> media);
    virtual ~ZrPlinqToken();

    ZrPlinqToken(const ZrPlinqToken&) = delete;
    ZrPlinqToken& operator=(const ZrPlinqToken&) = delete;

    uint32_t GetAmount(uint32_t* count);  // stored only on success
    uint32_t GetReaderName(uint32_t index, std::string& name);
    uint32_t Open(uint32_t index, uint32_t shareMode);
    uint32_t OpenByHandle(SCARDHANDLE handle);
    uint32_t GetHandle(SCARDHANDLE* handle);  // stored only on success
    uint32_t Reopen();
    uint32_t Close();  // does nothing: a connection ends with the facade
    uint32_t BeginTransaction();
    uint32_t EndTransaction();
    uint32_t GetSlotAttr(uint32_t attributeId, uint8_t* out, size_t* length);
    uint32_t GetAttr(uint8_t attributeId, uint8_t* out, size_t* length);
    uint32_t SetAttr(uint8_t attributeId, const uint8_t* value, size_t length);
    uint32_t ReadCardStatus(tru::BufferDynamic& readerName, uint32_t* state, tru::BufferDynamic& atr);
    // Reads label, manufacturer, model, serial, version and flags; stops at the first failure.
    uint32_t GetTokenInfo(_TokenInfo_Struct* info);

    uint32_t InitSOPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* random, size_t randomLength,
                       const uint8_t* label, size_t labelLength);
    uint32_t InitUserPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* userPin, size_t userPinLength);
    uint32_t ChangeSOPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin, size_t newLength);
    uint32_t ChangeUserPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin, size_t newLength,
                           const uint8_t* random, size_t randomLength);
    uint32_t CheckSOPIN(const uint8_t* pin, size_t length);
    uint32_t CheckUserPIN(const uint8_t* pin, size_t length);
    uint32_t ResetDevice(const uint8_t* data, size_t length);
    uint32_t SetMaxAuthCtr(const uint8_t* soPin, size_t length, uint32_t count);
    uint32_t GetFirmwareIntegrityCode(const uint8_t* input, size_t inputLength, uint8_t* out, size_t* length);

    uint32_t OpenSession(uint8_t* session);
    uint32_t CloseSession(const uint8_t* session);
    uint32_t Login(const uint8_t* session, const uint8_t* pin, size_t length);
    uint32_t Logout(const uint8_t* session);
    uint32_t GetSessionState(const uint8_t* session, uint32_t* state);

    uint32_t IsFileExists(const uint8_t* session, uint8_t fileId, bool* exists);
    uint32_t GetFileSize(const uint8_t* session, uint8_t fileId, uint32_t* size);  // stored only on success
    uint32_t GetExistingFileSize(const uint8_t* session, uint8_t fileId, uint32_t* size);
    uint32_t CreateFile(const uint8_t* session, uint8_t fileId, EPersistence persistence);
    uint32_t DeleteFile(const uint8_t* session, uint8_t fileId);
    uint32_t ReadFile(const uint8_t* session, uint8_t fileId, uint8_t* out, size_t* length);
    uint32_t ReadFileAt(const uint8_t* session, uint8_t fileId, uint32_t offset, uint8_t* out, size_t count);
    uint32_t WriteFile(const uint8_t* session, uint8_t fileId, uint32_t offset, const uint8_t* data, size_t length);
    uint32_t GetRandom(const uint8_t* session, uint8_t* out, size_t count, const uint8_t* seed, size_t seedLength);

    uint32_t LoadKey(const uint8_t* session, EParamSet paramSet, EPersistence persistence, const uint8_t* blob,
                     size_t blobLength, uint8_t keySlot);
    uint32_t GenerateKeyPair(const uint8_t* session, EParamSet paramSet, EPersistence persistence, uint8_t* out,
                             size_t* length, uint8_t keySlot);
    uint32_t GetSignature(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength,
                          uint8_t* out, size_t* length);
    uint32_t VerifySignature(const uint8_t* session, const uint8_t* key, size_t keyLength, EParamSet paramSet,
                             const uint8_t* data, size_t dataLength, const uint8_t* signature,
                             size_t signatureLength);
    uint32_t Encrypt(const uint8_t* session, const uint8_t* key, size_t keyLength, EParamSet paramSet,
                     const uint8_t* data, size_t dataLength, uint8_t* out, size_t* length);
    uint32_t Decrypt(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength, uint8_t* out,
                     size_t* length);
    uint32_t GetCommonKey(const uint8_t* session, uint8_t keySlot, const uint8_t* peer, size_t peerLength,
                          uint8_t flag, const uint8_t* first, size_t firstLength, uint32_t word,
                          const uint8_t* second, size_t secondLength, uint8_t* out, size_t* length);
    uint32_t ExportPublicKey(const uint8_t* session, uint8_t keySlot, uint8_t* out, size_t* length,
                             EParamSet* paramSet);  // not offered: 7

    uint32_t TestResponseDelay(uint16_t delay, uint8_t* out, size_t outSize);
    uint32_t SetResponseDelay(uint16_t delay);
    void InitializeGlobalData() {}

private:
    template <typename Operation>
    static uint32_t Forward(Operation&& operation);

    // Reads one text attribute into a blank-padded field.
    uint32_t ReadTextAttribute(uint8_t attributeId, uint8_t* field, size_t width);
    // Reads a little-endian u32 attribute; word keeps 0 for a shorter value.
    uint32_t ReadWordAttribute(uint8_t attributeId, uint32_t& word);

    std::unique_ptr<Media> media_;
};
