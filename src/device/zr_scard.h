#pragma once

#include <PCSC/winscard.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/apdu.h"
#include "device/device_types.h"
#include "tru2/buffer.h"
#include "tru2/nix/scard.h"

// One PC/SC connection to a token: the resource-manager context, the card handle (owned, or an
// application's handle that is never disconnected) and the token's command set, each command one
// APDU. Every operation returns a 32-bit result code; only the constructors and the context
// set-up throw (tru::Exception).
class ZrSCard {
public:
    // Sends one APDU and receives the answer; receiveLength is the capacity in, the received
    // length out. Replaceable so that the command encoding can be checked without a card.
    using Transmitter =
        std::function<uint32_t(const uint8_t* send, size_t sendLength, uint8_t* receive, size_t& receiveLength)>;

    // A card handle (0 before Open), with the protocol the connection runs (T=1 when unknown).
    ZrSCard(SCARDHANDLE handle, bool owned);
    explicit ZrSCard(std::unique_ptr<nix::SCard> card);
    virtual ~ZrSCard();

    ZrSCard(const ZrSCard&) = delete;
    ZrSCard& operator=(const ZrSCard&) = delete;

    void SetTransmitter(Transmitter transmitter) { transmitter_ = std::move(transmitter); }

    // --- PC/SC side -------------------------------------------------------------------------
    void SetupCardContext();  // throws tru::Exception with the PC/SC code when none can be made
    uint32_t ReleaseCardContext();
    uint32_t ListAllReaders(std::vector<std::string>& names);
    uint32_t GetAmount(uint32_t& count);
    uint32_t GetReaderName(uint32_t index, std::string& name);
    uint32_t Open(uint32_t index, uint32_t shareMode);
    uint32_t Reopen(uint32_t shareMode);
    uint32_t ReadCardStatus(tru::BufferDynamic& readerName, uint32_t& state, tru::BufferDynamic& atr);
    uint32_t GetSlotAttr(uint32_t attributeId, uint8_t* out, size_t& length);
    uint32_t BeginTransaction();
    uint32_t EndTransaction();
    SCARDHANDLE GetHandle() const;

    // --- token commands -----------------------------------------------------------------------
    // session always points to the 32-byte device session handle.
    uint32_t CreateFile(const uint8_t* session, uint8_t fileId);
    uint32_t DeleteFile(const uint8_t* session, uint8_t fileId);
    uint32_t GetFileSize(const uint8_t* session, uint8_t fileId, uint16_t& size);
    uint32_t WriteFile(const uint8_t* session, uint8_t fileId, uint32_t offset, size_t length, const uint8_t* data);
    uint32_t ReadFile(const uint8_t* session, uint8_t fileId, uint32_t offset, size_t count, uint8_t* out);
    uint32_t GetAttr(uint8_t attributeId, size_t* length, uint8_t* out);
    uint32_t SetAttr(uint8_t attributeId, size_t length, const uint8_t* value);
    uint32_t SetResponseDelay(uint16_t delay);
    // The token answers delay bytes; refused with ERROR_SIZE when they would not fit out.
    uint32_t TestResponseDelay(uint16_t delay, uint8_t* out, size_t outSize);
    uint32_t InitSOPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* random, size_t randomLength,
                       const uint8_t* label, size_t labelLength);
    uint32_t InitUserPIN(const uint8_t* soPin, size_t soPinLength, const uint8_t* userPin, size_t userPinLength);
    uint32_t ChangeSOPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin, size_t newLength);
    uint32_t ChangeUserPIN(const uint8_t* oldPin, size_t oldLength, const uint8_t* newPin, size_t newLength,
                           const uint8_t* random, size_t randomLength);
    uint32_t CheckSOPIN(const uint8_t* pin, size_t length);
    uint32_t CheckUserPIN(const uint8_t* pin, size_t length);
    uint32_t ResetDevice(const uint8_t* data, size_t length);
    uint32_t OpenSession(uint8_t* session);
    uint32_t CloseSession(const uint8_t* session);
    uint32_t Login(const uint8_t* session, const uint8_t* pin, size_t length);
    uint32_t Logout(const uint8_t* session);
    uint32_t GetSessionState(const uint8_t* session, uint32_t& state);
    uint32_t GetFirmwareIntegrityCode(size_t inputLength, const uint8_t* input, size_t* length, uint8_t* out);
    // The SO PIN takes at most 32 bytes of the fixed 39-byte data field.
    uint32_t SetMaxAuthCtr(const uint8_t* soPin, size_t length, uint32_t count);
    uint32_t GetRand(const uint8_t* session, uint8_t* out, size_t count, const uint8_t* seed, size_t seedLength);
    uint32_t GenerateKey(const uint8_t* session, EParamSet paramSet, uint8_t keySlot, size_t* length, uint8_t* out);
    uint32_t Sign(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength, size_t* length,
                  uint8_t* out);
    uint32_t Verify(const uint8_t* session, EParamSet paramSet, size_t keyLength, const uint8_t* key,
                    size_t signatureLength, const uint8_t* signature, size_t dataLength, const uint8_t* data);
    uint32_t Encrypt(const uint8_t* session, EParamSet paramSet, size_t keyLength, const uint8_t* key,
                     size_t dataLength, const uint8_t* data, size_t* length, uint8_t* out);
    uint32_t Decrypt(const uint8_t* session, uint8_t keySlot, const uint8_t* data, size_t dataLength, size_t* length,
                     uint8_t* out);
    uint32_t GetCommonKey(const uint8_t* session, uint8_t keySlot, size_t peerLength, const uint8_t* peer,
                          uint8_t flag, size_t firstLength, const uint8_t* first, uint32_t word,
                          size_t secondLength, const uint8_t* second, size_t* length, uint8_t* out);
    uint32_t LoadKey(const uint8_t* session, EParamSet paramSet, size_t blobLength, const uint8_t* blob,
                     uint8_t keySlot);

    // Largest chunk of one WriteFile or ReadFile command.
    static constexpr size_t kFileChunk = 192;

private:
    using AnswerDecoder = std::function<uint32_t(AnswerFields&)>;

    CommandData Begin(uint8_t command);
    // Frames and sends the command, checks the answer and runs decode over its fields; the
    // request and the answer are wiped afterwards (they may hold PINs and keys).
    uint32_t Call(const CommandData& command, const AnswerDecoder& decode = nullptr);
    uint32_t Transmit(const uint8_t* send, size_t sendLength, size_t& receiveLength);

    std::unique_ptr<nix::SCardContext> context_;
    std::unique_ptr<nix::SCard> card_;
    std::array<uint8_t, kRequestBufferSize> request_{};
    std::array<uint8_t, kResponseBufferSize> response_{};
    Transmitter transmitter_;
};
