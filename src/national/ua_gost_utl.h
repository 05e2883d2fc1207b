// The process-wide holder of the GOST 28147-89 S-boxes known by name, and the conversions of an
// S-box choice into the DKE, the S-block and the expanded table KExt of the cipher routines.
#pragma once

#include "ckbase/zr_pkcs11.h"
#include "national/dke_tables.h"
#include "national/kext_cache.h"
#include "support/noncopyable.h"
#include "tru2/buffer.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace qel {

class UAGostUtl : private vdk::Noncopyable {
public:
    // The singleton, created on first use (also after DestroyInstance).
    static UAGostUtl* GetInstance();
    // Deletes the singleton; the library's Finalize calls it.
    static void DestroyInstance();
    static UAGostUtl* s_instance;

    // Not empty and a whole number of 8-byte blocks.
    bool IsEcbDataSizeAcceptable(uint32_t size) const;

    // The 66-byte DER DKE set named by a dotted identifier, or the empty view.
    const tru::Buffer& GetDKEForOID(const std::string& oid) const;
    // Views of the constant tables: DER DKE set N (1..10), its DER identifier, the hash's
    // default start vector (32 zero bytes).
    const tru::Buffer& GetDKE(unsigned n) const { return dke_[n - 1]; }
    const tru::Buffer& GetDKEOID(unsigned n) const { return dkeOid_[n - 1]; }
    const tru::Buffer& GetDefaultIV() const { return defaultIV_; }

    // The 128-byte S-block of a DKE of at least 64 bytes (CKR_MECHANISM_PARAM_INVALID when shorter).
    void PrepareSBlock(const tru::Buffer& dke, tru::BufferDynamic& out) const;
    // The 4096-byte KExt of a 64-byte DKE, copied from the process-wide cache.
    // "DKE size should be 64 bytes" (CKR_MECHANISM_PARAM_INVALID) for another size.
    void PrepareKExt(const tru::Buffer& dke, tru::BufferDynamic& out) const;
    // As above after checking the hash start vector: "IV size should be 32 bytes".
    void PrepareKExt(const tru::Buffer& startVector, const tru::Buffer& dke, tru::BufferDynamic& out) const;
    // The cached table itself, shared without a copy; the same checks as PrepareKExt.
    std::shared_ptr<const KExtTable> GetKExt(const tru::Buffer& dke) const;
    std::shared_ptr<const KExtTable> GetKExt(const tru::Buffer& startVector, const tru::Buffer& dke) const;

    // Decodes a CKA_GOST_SBOXES-style value into the DKE bytes: empty means DKE1, a DER Dke holds
    // the bytes or one of the ten identifiers. False (out untouched) for another identifier;
    // errorCode for a value that is not exactly one DER Dke; tru::Exception when out cannot
    // take the bytes.
    bool ExtractSBox(const tru::Buffer& value, tru::Buffer& out, CK_RV errorCode) const;

private:
    UAGostUtl();
    ~UAGostUtl() = default;

    static std::mutex instanceMutex_;

    const tru::Buffer defaultIV_;
    const tru::Buffer empty_;
    tru::Buffer dke_[kDkeCount];
    tru::Buffer dkeOid_[kDkeCount];
    const uint32_t ecbBlockSize_ = 8;
};

} // namespace qel
