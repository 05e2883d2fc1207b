#include "driver/stored_identity.h"

#include <algorithm>
#include <cstring>

#include "ckbase/zr_pkcs11.h"

namespace qel {

namespace {

bool IsKeyItem(uint16_t itemType)
{
    switch (itemType) {
        case RSA_PRIVATE_KEY: case RSA_PUBLIC_KEY: case UA_SGN_PRIVATE_KEY: case UA_SGN_PUBLIC_KEY:
        case UA_GOST_SECRET_KEY: case EC_DSA_PRIVATE_KEYS: case EC_DSA_PUBLIC_KEYS: case EC_DSA_PRIVATE_KEY:
        case EC_DSA_PUBLIC_KEY: case DES3_SECRET_KEY: return true;
        default: return false;
    }
}

bool IsSecretKeyItem(uint16_t itemType) { return itemType == UA_GOST_SECRET_KEY || itemType == DES3_SECRET_KEY; }

// Records C_SetAttributeValue may change (object rules of each class).
bool IsChangeableRecord(uint16_t itemType, uint16_t id)
{
    if (id == CKA_LABEL) return true;
    switch (itemType) {
        case DATA: return id == CKA_APPLICATION || id == CKA_OBJECT_ID;
        case CERTIFICATE: return id == CKA_ID || id == CKA_ISSUER || id == CKA_SERIAL_NUMBER;
        default: break;
    }
    if (!IsKeyItem(itemType)) return false;
    return id == CKA_ID || id == CKA_START_DATE || id == CKA_END_DATE ||
           (id == CKA_SUBJECT && !IsSecretKeyItem(itemType));
}

// Bits of the flags word: usage flags a key may change either way; one-way flags that may only
// be set (sensitive 8, wrap with trusted 16) or only cleared (copyable 1, extractable 13). Every
// other bit (modifiable, trusted, derive, always sensitive, never extractable, always
// authenticate, local) never changes.
constexpr uint32_t kUsageBits = 1u << 4 | 1u << 5 | 1u << 6 | 1u << 7 | 1u << 9 | 1u << 10 | 1u << 11 | 1u << 12;
constexpr uint32_t kOnlySetBits = 1u << 8 | 1u << 16;
constexpr uint32_t kOnlyClearedBits = 1u << 1 | 1u << 13;

const storage::AttributeBuff* Find(const StoredRecordList& records, uint16_t id)
{
    const auto found = std::find_if(records.begin(), records.end(),
                                    [id](const storage::AttributeBuff& record) { return record.id == id; });
    return found != records.end() ? &*found : nullptr;
}

bool SameBytes(const storage::AttributeBuff* a, const storage::AttributeBuff* b)
{
    if (a == nullptr || b == nullptr) return a == b;
    const size_t size = a->value ? a->value->Size() : 0;
    if (size != (b->value ? b->value->Size() : 0)) return false;
    return size == 0 || std::memcmp(a->value->Data(), b->value->Data(), size) == 0;
}

// The flags word; absent reads as "no word" (both must then lack it).
bool FlagsWord(const storage::AttributeBuff* record, uint32_t& word)
{
    if (record == nullptr || !record->value || record->value->Size() != 4) return false;
    const uint8_t* b = record->value->Data();
    word = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
}

bool FlagsMayFollow(uint16_t itemType, const storage::AttributeBuff* before, const storage::AttributeBuff* after)
{
    uint32_t was = 0;
    uint32_t now = 0;
    if (!FlagsWord(before, was) || !FlagsWord(after, now)) return SameBytes(before, after);
    const uint32_t free = IsKeyItem(itemType) ? kUsageBits : 0;
    const uint32_t fixed = ~(free | kOnlySetBits | kOnlyClearedBits);
    return (was & fixed) == (now & fixed) && (was & kOnlySetBits & ~now) == 0 &&
           (now & kOnlyClearedBits & ~was) == 0;
}

}  // namespace

bool IsSameStoredObject(uint16_t itemType, const StoredRecordList& before, const StoredRecordList& after)
{
    for (const StoredRecordList* list : {&before, &after}) {
        for (const storage::AttributeBuff& record : *list) {
            if (record.id == tokattr::kFlags || IsChangeableRecord(itemType, record.id)) continue;
            if (!SameBytes(Find(before, record.id), Find(after, record.id))) return false;
        }
    }
    return FlagsMayFollow(itemType, Find(before, tokattr::kFlags), Find(after, tokattr::kFlags));
}

bool ValueMayMove(uint16_t itemType) { return itemType == DATA; }

}  // namespace qel
