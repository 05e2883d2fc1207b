#pragma once

#include <cstdint>
#include <string>

#include "ckbase/zr_pkcs11.h"
#include "device/device_types.h"
#include "driver/storage_types.h"
#include "tru2/buffer.h"

namespace qel {

// Device result codes turned into CK_RV (the one table of the driver), their texts, and the
// printable names of store values.
class TokenStorageUtl {
public:
    TokenStorageUtl() = delete;

    static CK_RV ConvertDeviceError(uint32_t result);
    static std::string GetErrorTextEN(uint32_t result);
    static std::string ConvertItemTypeToStr(uint16_t itemType);
    static std::string ConvertParamSetToStr(EParamSet paramSet);
    static std::string ConvertVisibilityToStr(EVisibility visibility);
    // UTF-16LE basic Latin to single bytes, in place; under 2 bytes nothing changes.
    static void ConvertFromUnicode(tru::BufferDynamic* text);
    // Between Cryptoki attribute types and 16-bit token attribute IDs; zrck::Exception
    // CKR_ATTRIBUTE_TYPE_INVALID / CKR_DEVICE_ERROR for types without a counterpart.
    static uint16_t ConvertAttrTypeForToken(CK_ATTRIBUTE_TYPE type);
    static CK_ATTRIBUTE_TYPE ConvertAttrTypeFromToken(uint16_t id);
};

}  // namespace qel
