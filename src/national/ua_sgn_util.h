// DSTU 4145 helpers shared by the keys, domain parameters and mechanisms: curve parameters to
// the device's parameter set, signature and key sizes, the 04 L header of an EC point and the
// verification form of a signature. Every curve computation runs on the token.
#pragma once

#include "device/device_types.h"
#include "tru2/buffer.h"

#include <cstdint>

namespace qel {

// DER DSTU4145Params of the four named curves the token offers, each with DKE1 as its S-box.
constexpr uint32_t kUASgnNamedParamsSize = 83;
extern const tru::Buffer UA_SGN_PARAMSET_0_OID_DKE1_VALUE;  // set 9, m = 163
extern const tru::Buffer UA_SGN_PARAMSET_4_OID_DKE1_VALUE;  // set 10, m = 191
extern const tru::Buffer UA_SGN_PARAMSET_6_OID_DKE1_VALUE;  // set 11, m = 257
extern const tru::Buffer UA_SGN_PARAMSET_9_OID_DKE1_VALUE;  // set 12, m = 431

// Key sizes every DSTU 4145 mechanism reports, in bits of the field.
constexpr unsigned long kUASgnMinKeyBits = 163;
constexpr unsigned long kUASgnMaxKeyBits = 509;
// EC capability bits the PKCS#11 header lacks.
constexpr unsigned long kCkfEcF2m = 1UL << 21;
constexpr unsigned long kCkfEcParameters = 1UL << 22;

class UASgnUtl {
public:
    UASgnUtl() = delete;

    // The parameter set a CKA_EC_PARAMS value names (CKR_ATTRIBUTE_VALUE_INVALID for anything
    // else). A non-empty dke replaces the contents of sbox; without one sbox is left as it is.
    // A value with neither alternative gives the fallback.
    static EParamSet ParseECParams(const tru::Buffer& ecParams, tru::BufferDynamic& sbox, EParamSet fallback);

    // 42, 48, 64, 108; CKR_FUNCTION_FAILED for a set outside 9..12.
    static uint32_t CalcSignSize(EParamSet paramSet);
    static uint32_t CalcSignSize(const tru::Buffer& ecParams, EParamSet fallback);
    // Half the signature size: 21, 24, 32, 54.
    static uint32_t CalcKeySize(const tru::Buffer& ecParams, EParamSet fallback);

    // Brings a signature to the set's size in place: a longer one is accepted only when each
    // half carries zero bytes after its first key-size bytes. CKR_SIGNATURE_LEN_RANGE for an
    // odd or short length, CKR_SIGNATURE_INVALID for a non-zero surplus; a failing signature
    // is left unchanged.
    static void PrepareSign4Verify(EParamSet paramSet, tru::BufferDynamic& signature);

    // Bare point <-> DER OCTET STRING 04 L point (L at most 127). The library's own points:
    // CKR_GENERAL_ERROR when they cannot be converted.
    static void AddECPointAsnTag(tru::BufferDynamic& point);
    static void RemoveECPointAsnTag(tru::BufferDynamic& point);
    // A point handed in by the application: CKR_ATTRIBUTE_VALUE_INVALID when malformed.
    static void VerifyECPointAsnTag(const tru::Buffer& point);
};

} // namespace qel
