#pragma once

#include <memory>

#include "device/media.h"
#include "device/zr_scard.h"

// The token reached as a smart card through PC/SC. Checks pointer arguments, negotiates output
// sizes and hides "file not found" where callers expect it. Operations that need the card before
// any reader operation or OpenByHandle throw tru::Exception(1200).
class MediaZrSC : public Media {
public:
    MediaZrSC() = default;
    // Starts with the given device (a seam for tests; a later Open keeps it, OpenByHandle replaces it).
    explicit MediaZrSC(std::unique_ptr<ZrSCard> device) : device_(std::move(device)) {}
    ~MediaZrSC() override = default;

    // Public-key output size of GenerateKeyPair, or 0 for a parameter set the token cannot generate.
    static size_t PublicKeySize(EParamSet paramSet);

    uint32_t GetAmount(uint32_t* count) override;
    uint32_t GetReaderName(uint32_t index, std::string& name) override;
    uint32_t Open(uint32_t index, uint32_t shareMode) override;
    uint32_t OpenByHandle(SCARDHANDLE handle) override;
    uint32_t GetHandle(SCARDHANDLE* handle) override;
    uint32_t Reopen() override;
    uint32_t BeginTransaction() override;
    uint32_t EndTransaction() override;
    uint32_t GetSlotAttr(uint32_t attributeId, uint8_t* out, size_t* length) override;
    uint32_t GetAttr(uint8_t attributeId, uint8_t* out, size_t* length) override;
    uint32_t SetAttr(uint8_t attributeId, const uint8_t* value, size_t length) override;
    uint32_t ReadCardStatus(tru::BufferDynamic& readerName, uint32_t* state, tru::BufferDynamic& atr) override;
    uint32_t InitSOPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* random, size_t randomLength,
                       const uint8_t* label, size_t labelLength) override;
    uint32_t InitUserPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* userPin,
                         size_t userPinLength) override;
    uint32_t ChangeSOPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin, size_t newLength) override;
    uint32_t ChangeUserPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin, size_t newLength,
                           const uint8_t* random, size_t randomLength) override;
    uint32_t CheckSOPIN(const uint8_t* pin, size_t length) override;
    uint32_t CheckUserPIN(const uint8_t* pin, size_t length) override;
    uint32_t ResetDevice(const uint8_t* data, size_t length) override;
    uint32_t OpenSession(uint8_t* session) override;
    uint32_t CloseSession(const uint8_t* session) override;
    uint32_t Logout(const uint8_t* session) override;
    uint32_t Login(const uint8_t* session, const uint8_t* pin, size_t length) override;
    uint32_t GetSessionState(const uint8_t* session, uint32_t* state) override;
    uint32_t SetMaxAuthCtr(const uint8_t* soPin, size_t length, uint32_t count) override;
    uint32_t GetFirmwareIntegrityCode(const uint8_t* input, size_t inputLength, uint8_t* out,
                                      size_t* length) override;
    uint32_t IsFileExists(const uint8_t* session, uint8_t fileId, bool* exists) override;
    uint32_t GetFileSize(const uint8_t* session, uint8_t fileId, uint32_t* size) override;
    uint32_t GetExistingFileSize(const uint8_t* session, uint8_t fileId, uint32_t* size) override;
    uint32_t CreateFile(const uint8_t* session, uint8_t fileId, EPersistence persistence) override;
    uint32_t DeleteFile(const uint8_t* session, uint8_t fileId) override;
    uint32_t ReadFile(const uint8_t* session, uint8_t fileId, uint8_t* out, size_t* length) override;
    uint32_t ReadFileAt(const uint8_t* session, uint8_t fileId, uint32_t offset, uint8_t* out,
                        size_t count) override;
    uint32_t WriteFile(const uint8_t* session, uint8_t fileId, uint32_t offset, const uint8_t* data,
                       size_t length) override;
    uint32_t GetRandom(const uint8_t* session, uint8_t* out, size_t count, const uint8_t* seed,
                       size_t seedLength) override;
    uint32_t GenerateKeyPair(const uint8_t* session, EParamSet paramSet, uint8_t keySlot, EPersistence persistence,
                             uint8_t* out, size_t* length) override;
    uint32_t GetSignature(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength,
                          uint8_t* out, size_t* length) override;
    uint32_t VerifySignature(const uint8_t* session, EParamSet paramSet, const uint8_t* key, size_t keyLength,
                             const uint8_t* signature, size_t signatureLength, const uint8_t* data,
                             size_t dataLength) override;
    uint32_t Encrypt(const uint8_t* session, EParamSet paramSet, const uint8_t* key, size_t keyLength,
                     const uint8_t* data, size_t dataLength, uint8_t* out, size_t* length) override;
    uint32_t Decrypt(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength, uint8_t* out,
                     size_t* length) override;
    uint32_t GetCommonKey(const uint8_t* session, uint8_t keySlot, const uint8_t* peer, size_t peerLength,
                          uint8_t flag, const uint8_t* first, size_t firstLength, uint32_t word,
                          const uint8_t* second, size_t secondLength, uint8_t* out, size_t* length) override;
    uint32_t LoadKey(const uint8_t* session, EParamSet paramSet, const uint8_t* blob, size_t blobLength,
                     uint8_t keySlot) override;
    uint32_t TestResponseDelay(uint16_t delay, uint8_t* out, size_t outSize) override;
    uint32_t SetResponseDelay(uint16_t delay) override;

    uint32_t GenerateKey(const uint8_t* session, const std::string& name, EParamSet paramSet,
                         tru::BufferDynamic& out) override;
    uint32_t Sign(const uint8_t* session, const std::string& name, const uint8_t* data, size_t dataLength,
                  uint8_t* out, size_t* length) override;
    uint32_t KeyPairDH(const uint8_t* session, const std::string& name, const uint8_t* data, size_t dataLength,
                       const uint8_t* peer, uint8_t* out, size_t* length) override;
    uint32_t isObjectExists(const uint8_t* session, bool* exists, const std::string& name, EObject kind) override;
    uint32_t ExportPublicKey(const uint8_t* session, const std::string& name, size_t* length,
                             uint8_t* out) override;
    uint32_t SaveCert(const uint8_t* session, const std::string& name, const tru::Buffer& certificate) override;
    uint32_t GetObjectParamSet(const uint8_t* session, EParamSet* paramSet, const std::string& name) override;
    uint32_t GetObjectsCount(const uint8_t* session, uint32_t* count) override;
    uint32_t ReadObject(const uint8_t* session, tru::BufferDynamic& out, EParamSet* paramSet,
                        const std::string& name, EObject kind) override;
    uint32_t DeleteObject(const uint8_t* session, const std::string& name) override;

private:
    ZrSCard& Device();          // throws tru::Exception(1200) when there is none
    ZrSCard& DeviceOrCreate();  // the reader operations make one (no connection yet)

    std::unique_ptr<ZrSCard> device_;
};
