#pragma once

#include <cstddef>
#include <cstdint>

// Types shared by the token device interface (the facade, the card media and the token commands).

// Parameter set of a key, sent to the token as one byte.
enum EParamSet : uint8_t {
    GostR3410_2001_ParamSetA = 1,
    GostR3410_2001_ParamSetB = 2,
    GostR3410_2001_ParamSetC = 3,
    GostR3410_2001_ExchgParamSetA = 4,
    GostR3410_2001_ExchgParamSetB = 5,
    RSA_sign_1024 = 6,
    RSA_sign_1536 = 7,
    RSA_sign_2048 = 8,
    DSTU4145_POLYNOMIAL_0 = 9,
    DSTU4145_POLYNOMIAL_4 = 10,
    DSTU4145_POLYNOMIAL_6 = 11,
    DSTU4145_POLYNOMIAL_9 = 12,
    RSA_sign_512 = 13,
    DSA_ECP_SECP192R1 = 14,
    DSA_ECP_SECP256R1 = 15,
    DSA_ECP_SECP521R1 = 16,
};

// Persistence class at the device interface; never sent to the token.
enum EPersistence : uint8_t {
    NotKeptObject = 1,  // a generated public key that is not stored
    TokenObject = 2,    // every file and key kept on the token
};

// Opaque handle of a device session, returned by OpenSession and sent verbatim.
constexpr size_t kDeviceSessionSize = 32;

// Device attributes read with GetAttr.
enum EDeviceAttribute : uint8_t {
    AttrLabel = 0,          // up to 32 bytes
    AttrSerialNumber = 1,   // up to 16 bytes
    AttrModel = 3,          // up to 16 bytes
    AttrManufacturer = 5,   // up to 32 bytes
    AttrVersion = 7,        // u32: top byte major, next byte minor
    AttrFlags = 8,          // u32, see TokenFlagBits
    AttrRandomLength = 9,   // u32 length of the random field of InitSOPIN and ChangeUserPIN
    AttrMaxUserPinTries = 10,
};

// Bits of the device flags word (attribute 8).
enum TokenFlagBits : uint32_t {
    FlagTokenInitialized = 1u << 8,
    FlagUserPinInitialized = 1u << 9,
    FlagUserPinCountLow = 1u << 16,
    FlagUserPinFinalTry = 1u << 17,
    FlagUserPinLocked = 1u << 18,
};

// Bit of the GetSessionState word: the user is logged in on the session.
constexpr uint32_t kSessionStateUserLoggedIn = 1u << 1;
