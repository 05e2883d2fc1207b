// GOST 34.311 hash on the host, with the S-box and the 32-byte start vector chosen by the
// mechanism parameter (absent, or DER Gost34311Params).
#pragma once

#include <memory>

#include "national/kext_cache.h"
#include "objects/tok_digest_mechanisms.h"
#include "qelcrypt/gr341194.h"
#include "support/noncopyable.h"

namespace qel {

class TokUAGostHashMechanism : public zrck::TokUAGostHashMechanism, private vdk::Noncopyable {
public:
    static constexpr CK_ULONG kDigestLength = GR341194_DIGEST_SIZE;

    TokUAGostHashMechanism();
    ~TokUAGostHashMechanism() override { FreeResources(); }

    // "IV size should be 32 bytes" or "DKE size should be 64 bytes" (CKR_MECHANISM_PARAM_INVALID)
    // for a parameter that names other sizes.
    void DigestInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter) override;
    bool Digest(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                unsigned long* outLen) override;
    void DigestUpdate(zrck::MechanismSession& session, const tru::Buffer& data) override;
    bool DigestFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;
    // Wipes the table and the context; the start vector and the S-block stay.
    void FreeResources() override;
    zrck::TokMechanism* Clone() const override;
    // Absent: DKE1 and a zero start vector. Otherwise DER Gost34311Params; anything else,
    // and an identifier outside the ten known S-boxes, is CKR_MECHANISM_PARAM_INVALID.
    void SetParameter(const zrck::MechanismParameter& parameter) override;
    void SetDefaultParameter() override;

    const tru::Buffer& GetSBlock() const override { return sBlock_; }
    // A 66-byte DER OCTET STRING 04 40 DKE is kept as its 64 DKE bytes; anything else as given.
    void SetSBlock(const tru::Buffer& sBlock) override;
    const tru::Buffer& GetStartVector() const override { return startVector_; }
    void SetStartVector(const tru::Buffer& startVector) override;

private:
    void RequireActive() const;
    bool Finish(unsigned char* out, unsigned long* outLen, const tru::Buffer* data);

    tru::BufferDynamic startVector_;
    tru::BufferDynamic sBlock_;
    std::shared_ptr<const KExtTable> table_;
    gr341194_md_ctx ctx_ = {};
};

}  // namespace qel
