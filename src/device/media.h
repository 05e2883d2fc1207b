#pragma once

#include <PCSC/winscard.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/device_types.h"
#include "tru2/buffer.h"

// One token reached through some medium: readers, connection, transactions, reader and device
// attributes, PINs, device sessions, files, random data and the on-token key operations. Every
// operation returns a 32-bit result code (0 success); session points to the 32-byte device session.
class Media {
public:
    // Kinds of named objects of the object-name operations, which no medium implements.
    enum EObject : uint8_t { ObjectKey = 1, ObjectCertificate = 2 };

    Media() = default;
    virtual ~Media() = default;
    Media(const Media&) = delete;
    Media& operator=(const Media&) = delete;

    virtual uint32_t GetAmount(uint32_t* count) = 0;
    virtual uint32_t GetReaderName(uint32_t index, std::string& name) = 0;
    virtual uint32_t Open(uint32_t index, uint32_t shareMode) = 0;
    virtual uint32_t OpenByHandle(SCARDHANDLE handle) = 0;
    virtual uint32_t GetHandle(SCARDHANDLE* handle) = 0;
    virtual uint32_t Reopen() = 0;
    virtual uint32_t BeginTransaction() = 0;
    virtual uint32_t EndTransaction() = 0;
    virtual uint32_t GetSlotAttr(uint32_t attributeId, uint8_t* out, size_t* length) = 0;
    virtual uint32_t GetAttr(uint8_t attributeId, uint8_t* out, size_t* length) = 0;
    virtual uint32_t SetAttr(uint8_t attributeId, const uint8_t* value, size_t length) = 0;
    virtual uint32_t ReadCardStatus(tru::BufferDynamic& readerName, uint32_t* state, tru::BufferDynamic& atr) = 0;
    virtual uint32_t InitSOPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* random, size_t randomLength,
                               const uint8_t* label, size_t labelLength) = 0;
    virtual uint32_t InitUserPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* userPin,
                                 size_t userPinLength) = 0;
    virtual uint32_t ChangeSOPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin,
                                 size_t newLength) = 0;
    virtual uint32_t ChangeUserPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin, size_t newLength,
                                   const uint8_t* random, size_t randomLength) = 0;
    virtual uint32_t CheckSOPIN(const uint8_t* pin, size_t length) = 0;
    virtual uint32_t CheckUserPIN(const uint8_t* pin, size_t length) = 0;
    virtual uint32_t ResetDevice(const uint8_t* data, size_t length) = 0;
    virtual uint32_t OpenSession(uint8_t* session) = 0;
    virtual uint32_t CloseSession(const uint8_t* session) = 0;
    virtual uint32_t Logout(const uint8_t* session) = 0;
    virtual uint32_t Login(const uint8_t* session, const uint8_t* pin, size_t length) = 0;
    virtual uint32_t GetSessionState(const uint8_t* session, uint32_t* state) = 0;
    virtual uint32_t SetMaxAuthCtr(const uint8_t* soPin, size_t length, uint32_t count) = 0;
    virtual uint32_t GetFirmwareIntegrityCode(const uint8_t* input, size_t inputLength, uint8_t* out,
                                              size_t* length) = 0;
    virtual uint32_t IsFileExists(const uint8_t* session, uint8_t fileId, bool* exists) = 0;
    virtual uint32_t GetFileSize(const uint8_t* session, uint8_t fileId, uint32_t* size) = 0;
    // One size query; unlike GetFileSize a missing file answers devrc::kFileNotFound.
    virtual uint32_t GetExistingFileSize(const uint8_t* session, uint8_t fileId, uint32_t* size) = 0;
    virtual uint32_t CreateFile(const uint8_t* session, uint8_t fileId, EPersistence persistence) = 0;
    virtual uint32_t DeleteFile(const uint8_t* session, uint8_t fileId) = 0;
    // Reads the whole file; *length is the capacity in and the file size out.
    virtual uint32_t ReadFile(const uint8_t* session, uint8_t fileId, uint8_t* out, size_t* length) = 0;
    // Reads count bytes from offset without asking the size: a file that ends sooner answers
    // devrc::kInvalidOffset, a missing one devrc::kFileNotFound.
    virtual uint32_t ReadFileAt(const uint8_t* session, uint8_t fileId, uint32_t offset, uint8_t* out,
                                size_t count) = 0;
    virtual uint32_t WriteFile(const uint8_t* session, uint8_t fileId, uint32_t offset, const uint8_t* data,
                               size_t length) = 0;
    virtual uint32_t GetRandom(const uint8_t* session, uint8_t* out, size_t count, const uint8_t* seed,
                               size_t seedLength) = 0;
    virtual uint32_t GenerateKeyPair(const uint8_t* session, EParamSet paramSet, uint8_t keySlot,
                                     EPersistence persistence, uint8_t* out, size_t* length) = 0;
    virtual uint32_t GetSignature(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength,
                                  uint8_t* out, size_t* length) = 0;
    virtual uint32_t VerifySignature(const uint8_t* session, EParamSet paramSet, const uint8_t* key,
                                     size_t keyLength, const uint8_t* signature, size_t signatureLength,
                                     const uint8_t* data, size_t dataLength) = 0;
    virtual uint32_t Encrypt(const uint8_t* session, EParamSet paramSet, const uint8_t* key, size_t keyLength,
                             const uint8_t* data, size_t dataLength, uint8_t* out, size_t* length) = 0;
    virtual uint32_t Decrypt(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength,
                             uint8_t* out, size_t* length) = 0;
    // flag: 1 cofactor key agreement, 0 plain.
    virtual uint32_t GetCommonKey(const uint8_t* session, uint8_t keySlot, const uint8_t* peer, size_t peerLength,
                                  uint8_t flag, const uint8_t* first, size_t firstLength, uint32_t word,
                                  const uint8_t* second, size_t secondLength, uint8_t* out, size_t* length) = 0;
    virtual uint32_t LoadKey(const uint8_t* session, EParamSet paramSet, const uint8_t* blob, size_t blobLength,
                             uint8_t keySlot) = 0;
    // The token answers delay bytes into out, which holds outSize bytes.
    virtual uint32_t TestResponseDelay(uint16_t delay, uint8_t* out, size_t outSize) = 0;
    virtual uint32_t SetResponseDelay(uint16_t delay) = 0;

    // Operations on named objects: declared by the interface, not offered by any token.
    virtual uint32_t GenerateKey(const uint8_t* session, const std::string& name, EParamSet paramSet,
                                 tru::BufferDynamic& out) = 0;
    virtual uint32_t Sign(const uint8_t* session, const std::string& name, const uint8_t* data, size_t dataLength,
                          uint8_t* out, size_t* length) = 0;
    virtual uint32_t KeyPairDH(const uint8_t* session, const std::string& name, const uint8_t* data,
                               size_t dataLength, const uint8_t* peer, uint8_t* out, size_t* length) = 0;
    virtual uint32_t isObjectExists(const uint8_t* session, bool* exists, const std::string& name, EObject kind) = 0;
    virtual uint32_t ExportPublicKey(const uint8_t* session, const std::string& name, size_t* length,
                                     uint8_t* out) = 0;
    virtual uint32_t SaveCert(const uint8_t* session, const std::string& name, const tru::Buffer& certificate) = 0;
    virtual uint32_t GetObjectParamSet(const uint8_t* session, EParamSet* paramSet, const std::string& name) = 0;
    virtual uint32_t GetObjectsCount(const uint8_t* session, uint32_t* count) = 0;
    virtual uint32_t ReadObject(const uint8_t* session, tru::BufferDynamic& out, EParamSet* paramSet,
                                const std::string& name, EObject kind) = 0;
    virtual uint32_t DeleteObject(const uint8_t* session, const std::string& name) = 0;
};
