#pragma once

#include <cstdint>

#include "tru2/result_codes.h"

// Result codes of the device layer: 0 success, Windows-style numbers, PC/SC numbers (0x8010xxxx)
// and the numbers of the token's status table. Always 32 bits.
namespace devrc {

constexpr uint32_t kSuccess = 0;
constexpr uint32_t kFileNotFound = static_cast<uint32_t>(tru::ERROR_FILE_NOT_FOUND);
constexpr uint32_t kInvalidHandle = 6;        // a required in/out length pointer is null
constexpr uint32_t kNotSupported = 7;         // ExportPublicKey
constexpr uint32_t kMalformedAnswer = 22;     // no 90 00, or a wrong marker byte
constexpr uint32_t kGeneralFailure = 31;      // short answer, unknown status, bad attribute length
constexpr uint32_t kParam = static_cast<uint32_t>(tru::ERROR_PARAM);
constexpr uint32_t kSize = static_cast<uint32_t>(tru::ERROR_SIZE);
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kNoDevice = 1200;          // a media operation before Open or OpenByHandle
constexpr uint32_t kDeviceRemoved = 0x651;    // a transmit that failed with 2
constexpr uint32_t kInvalidSession = 1312;
constexpr uint32_t kFileExists = 80;
constexpr uint32_t kInvalidOffset = 8262;     // a read or write past the end of a file
constexpr uint32_t kBadSignature = 0x80090006;
constexpr uint32_t kBadParamSet = 0x80090008;
constexpr uint32_t kNotImplemented = static_cast<uint32_t>(tru::ERROR_NOT_IMPLEMENTED);
constexpr uint32_t kPinIncorrect = 0x8010002A;
constexpr uint32_t kPinLocked = 0x8010006C;

}  // namespace devrc

// Result code of a token status byte: 0 success, 1 to 110 through the token's table, others 31.
uint32_t ConvertTokenError(uint8_t status);
