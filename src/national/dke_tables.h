// The ten GOST 28147-89 S-box sets (DKE) known by name, their identifiers, and the DKE to
// S-block conversion the cipher routines need.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qel {

constexpr size_t kDkeSize = 64;         // eight substitutions of sixteen 4-bit entries
constexpr size_t kDkeDerSize = 66;      // DER OCTET STRING: 04 40, then the DKE
constexpr size_t kDkeOidDerSize = 14;   // DER OBJECT IDENTIFIER 1.2.804.2.1.1.1.1.1.1.10.N
constexpr size_t kDkeCount = 10;
constexpr size_t kSBlockSize = 128;
constexpr size_t kHashStartVectorSize = 32;

extern const uint8_t glbDKE1[kDkeDerSize];  // the default DKE of DSTU 4145-2002
extern const uint8_t glbDKE2[kDkeDerSize];
extern const uint8_t glbDKE3[kDkeDerSize];
extern const uint8_t glbDKE4[kDkeDerSize];
extern const uint8_t glbDKE5[kDkeDerSize];
extern const uint8_t glbDKE6[kDkeDerSize];
extern const uint8_t glbDKE7[kDkeDerSize];
extern const uint8_t glbDKE8[kDkeDerSize];
extern const uint8_t glbDKE9[kDkeDerSize];
extern const uint8_t glbDKE10[kDkeDerSize];
extern const uint8_t glbDKE1OID[kDkeOidDerSize];
extern const uint8_t glbDKE2OID[kDkeOidDerSize];
extern const uint8_t glbDKE3OID[kDkeOidDerSize];
extern const uint8_t glbDKE4OID[kDkeOidDerSize];
extern const uint8_t glbDKE5OID[kDkeOidDerSize];
extern const uint8_t glbDKE6OID[kDkeOidDerSize];
extern const uint8_t glbDKE7OID[kDkeOidDerSize];
extern const uint8_t glbDKE8OID[kDkeOidDerSize];
extern const uint8_t glbDKE9OID[kDkeOidDerSize];
extern const uint8_t glbDKE10OID[kDkeOidDerSize];

// Default start vector of the GOST 34.311 hash: 32 zero bytes.
extern const uint8_t glbDefaultIV[kHashStartVectorSize];
// Fixed IV of the second encryption of the GOST key wrap.
extern const uint8_t glbIV1[8];

struct DkeTableEntry {
    const char* oid;          // dotted text, "1.2.804.2.1.1.1.1.1.1.10.N"
    const uint8_t* der;       // kDkeDerSize bytes
    const uint8_t* oidDer;    // kDkeOidDerSize bytes
};
// DKE1 .. DKE10 in order.
extern const DkeTableEntry glbDkeTables[kDkeCount];

// The DKE bytes of a table entry (after the 04 40 header).
inline const uint8_t* DkeBytes(const DkeTableEntry& entry) { return entry.der + 2; }

// The entry whose dotted identifier equals oid, or null.
const DkeTableEntry* FindDkeByOid(const char* oid, size_t len);

// DKE (64 bytes) to the 128-byte S-block of the cipher routines: DKE byte 8r + k holds the
// entries of substitution r (nibble position r) for inputs 2k (high nibble) and 2k + 1.
void DkeToSBlock(const uint8_t* dke, uint8_t* sblock);

} // namespace qel
