#pragma once

#include <cstdint>
#include <memory>

#include "support/safe_buffer.h"

// Types of the on-token object store: roles of file IDs, index records and attribute records.
namespace qel {

// Item type of an index record; 0 marks a free record.
enum EItemType : uint16_t {
    ItemFree = 0,
    TOKEN_DATA = 1,
    RSA_PRIVATE_KEY = 2,
    RSA_PUBLIC_KEY = 3,
    CERTIFICATE = 4,
    DATA = 5,
    UA_SGN_DOMAIN_PARAMS = 6,
    UA_SGN_PRIVATE_KEY = 7,
    UA_SGN_PUBLIC_KEY = 8,
    UA_GOST_DOMAIN_PARAMS = 9,
    UA_GOST_SECRET_KEY = 10,
    EC_DSA_PRIVATE_KEYS = 11,  // host-held EC keys
    EC_DSA_PUBLIC_KEYS = 12,
    EC_DSA_PRIVATE_KEY = 13,   // device EC keys
    EC_DSA_PUBLIC_KEY = 14,
    DES3_SECRET_KEY = 15,
};

enum EVisibility : uint32_t {
    PublicObject = 1,   // files 1..125, index 126
    PrivateObject = 2,  // files 128..178, index 179
    KeyPairObject = 3,  // key slots 180..240, listed in index 179
};

namespace fileid {
constexpr long kRevision = 0;
constexpr long kPublicFirst = 1;
constexpr long kPublicLast = 125;
constexpr long kPublicIndex = 0x7E;
constexpr long kPrivateFirst = 128;
constexpr long kPrivateLast = 178;
constexpr long kPrivateIndex = 0xB3;
constexpr long kKeySlotFirst = 180;
constexpr long kKeySlotLast = 240;
}  // namespace fileid

// Token attribute IDs with a meaning of their own.
namespace tokattr {
constexpr uint16_t kFlags = 0x8EFF;              // u32 word of Boolean attributes
constexpr uint16_t kKeyGenerationDate = 0x8E02;  // CKA_ZR_KEY_GENERATION_DATE
constexpr uint16_t kGostSboxes = 0x8E11;         // CKA_GOST_SBOXES
}  // namespace tokattr

namespace storage {

// One 6-byte record of an index file (little-endian on the token).
struct IndexFileRecord {
    uint16_t itemType;
    uint16_t objectFile;
    uint16_t attributeFile;
};
constexpr uint32_t kIndexRecordSize = 6;

// An attribute to write: the value is the caller's.
struct Attribute {
    uint16_t id;
    const void* value;
    uint16_t length;
};

// An attribute read back: a wiping copy of the value.
struct AttributeBuff {
    uint16_t id;
    std::shared_ptr<vdk::SafeBuffer> value;
};

}  // namespace storage
}  // namespace qel
