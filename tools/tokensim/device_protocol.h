// The token's own command set: command bytes, device status bytes, attribute IDs and
// parameter sets, as they travel in the APDU data (01, command byte, fields; answer 01,
// status, fields, then 90 00).
#pragma once

#include <cstdint>
#include <string>

namespace tokensim {

namespace cmd {
constexpr uint8_t kCreateFile = 0x01;
constexpr uint8_t kDeleteFile = 0x02;
constexpr uint8_t kGetFileSize = 0x03;
constexpr uint8_t kWriteFile = 0x04;
constexpr uint8_t kReadFile = 0x05;
constexpr uint8_t kGetAttr = 0x10;
constexpr uint8_t kSetAttr = 0x11;
constexpr uint8_t kTestResponseDelay = 0x12;
constexpr uint8_t kSetResponseDelay = 0x13;
constexpr uint8_t kInitSOPIN = 0x30;
constexpr uint8_t kInitUserPIN = 0x31;
constexpr uint8_t kChangeSOPIN = 0x32;
constexpr uint8_t kChangeUserPIN = 0x33;
constexpr uint8_t kCheckSOPIN = 0x34;
constexpr uint8_t kCheckUserPIN = 0x35;
constexpr uint8_t kOpenSession = 0x36;
constexpr uint8_t kCloseSession = 0x37;
constexpr uint8_t kLogin = 0x38;
constexpr uint8_t kLogout = 0x39;
constexpr uint8_t kGetSessionState = 0x3A;
constexpr uint8_t kGetFirmwareIntegrityCode = 0x3B;
constexpr uint8_t kResetDevice = 0x3C;
constexpr uint8_t kSetMaxAuthCtr = 0x3D;
constexpr uint8_t kGetRand = 0xA1;
constexpr uint8_t kGenerateKey = 0xA2;
constexpr uint8_t kSign = 0xA4;
constexpr uint8_t kVerify = 0xA5;
constexpr uint8_t kGetCommonKey = 0xA7;
constexpr uint8_t kEncrypt = 0xA8;
constexpr uint8_t kDecrypt = 0xA9;
constexpr uint8_t kLoadKey = 0xB0;
}  // namespace cmd

// The command's name for traces and counters; "Unknown" for bytes outside the set.
const char* CommandName(uint8_t command);

namespace st {
constexpr uint8_t kOk = 0;
constexpr uint8_t kNoCommand = 2;
constexpr uint8_t kNotImplemented = 7;
constexpr uint8_t kInternal = 11;
constexpr uint8_t kSignatureInvalid = 18;
constexpr uint8_t kBadFileIndex = 21;
constexpr uint8_t kDataTooLarge = 23;
constexpr uint8_t kInvalidArgument = 29;
constexpr uint8_t kPinLocked = 31;
constexpr uint8_t kInvalidPin = 32;
constexpr uint8_t kInvalidAttributeId = 33;
constexpr uint8_t kNotInitialized = 35;
constexpr uint8_t kUnsupportedParamSet = 36;
constexpr uint8_t kInvalidKey = 37;
constexpr uint8_t kBadLength = 39;
constexpr uint8_t kSessionsLimit = 40;
constexpr uint8_t kInvalidSession = 41;
constexpr uint8_t kNotAuthorized = 48;
constexpr uint8_t kInsufficientSpace = 103;
constexpr uint8_t kFileTooBig = 104;
constexpr uint8_t kFileNotFound = 105;
constexpr uint8_t kFileExists = 106;
constexpr uint8_t kInvalidOffset = 107;
}  // namespace st

namespace attr {
constexpr uint8_t kLabel = 0;
constexpr uint8_t kSerial = 1;
constexpr uint8_t kModel = 3;
constexpr uint8_t kManufacturer = 5;
constexpr uint8_t kVersion = 7;
constexpr uint8_t kFlags = 8;
constexpr uint8_t kRandomFieldLength = 9;
constexpr uint8_t kMaxPinTries = 10;
}  // namespace attr

// Bits of the flags word (attribute 8).
namespace flag {
constexpr uint32_t kTokenInitialized = 1u << 8;
constexpr uint32_t kUserPinInitialized = 1u << 9;
constexpr uint32_t kUserPinCountLow = 1u << 16;
constexpr uint32_t kUserPinFinalTry = 1u << 17;
constexpr uint32_t kUserPinLocked = 1u << 18;
}  // namespace flag

namespace paramset {
constexpr uint8_t kRsa1024 = 6;
constexpr uint8_t kRsa1536 = 7;
constexpr uint8_t kRsa2048 = 8;
constexpr uint8_t kDstu163 = 9;
constexpr uint8_t kDstu191 = 10;
constexpr uint8_t kDstu257 = 11;
constexpr uint8_t kDstu431 = 12;
constexpr uint8_t kRsa512 = 13;
constexpr uint8_t kP192 = 14;
constexpr uint8_t kP256 = 15;
constexpr uint8_t kP521 = 16;
inline bool IsRsa(uint8_t p) { return (p >= kRsa1024 && p <= kRsa2048) || p == kRsa512; }
inline bool IsDstu(uint8_t p) { return p >= kDstu163 && p <= kDstu431; }
inline bool IsEcdsa(uint8_t p) { return p >= kP192 && p <= kP521; }
}  // namespace paramset

// File ID ranges of the token's file system.
namespace fileid {
constexpr uint8_t kLastPublic = 127;      // 0 to 127: readable and writable in any session
constexpr uint8_t kFirstPrivate = 128;    // 128 to 179: only with the user logged in
constexpr uint8_t kLastPrivate = 179;
constexpr uint8_t kFirstKeySlot = 180;    // 180 to 240: key slots
constexpr uint8_t kLastKeySlot = 240;
inline bool IsKeySlot(uint8_t id) { return id >= kFirstKeySlot && id <= kLastKeySlot; }
inline bool IsFile(uint8_t id) { return id <= kLastPrivate; }
inline bool IsPrivateFile(uint8_t id) { return id >= kFirstPrivate && id <= kLastPrivate; }
}  // namespace fileid

constexpr size_t kSessionHandleSize = 32;
constexpr size_t kMaxAnswerData = 1300;  // the host's 1302-byte buffer less 90 00

}  // namespace tokensim
