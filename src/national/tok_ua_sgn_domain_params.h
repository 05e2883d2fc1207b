// The token's DSTU 4145 domain-parameter objects: one per curve the token offers, built by the
// token in memory, never written to it, never created, changed or copied by an application.
#pragma once

#include "device/device_types.h"
#include "driver/token_stored_object.h"
#include "objects/tok_ua_sgn_objects.h"
#include "support/noncopyable.h"

namespace qel {

class TokUASgnDomainParams : public zrck::TokUASgnDomainParams,
                             public TokenStoredOwnedObject,
                             private vdk::Noncopyable {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokUASgnDomainParams::ClassCouldBeCreated(attributes);
    }
    static zrck::TokObject* GenerateTokObject() { return new TokUASgnDomainParams(); }

    // The object of a named curve as the token shows it: label = the curve's identifier,
    // CKA_EC_PARAMS = its named-curve block with DKE1. Sets outside 9..12: CKR_FUNCTION_FAILED.
    static TokUASgnDomainParams* CreateForParamset(EParamSet paramSet);

    void RegisterObject() override {}
    zrck::TokObject* GenerateCopy() override { return nullptr; }
    void InitDefaults() override {}
    CK_BBOOL IsModifiable() const override { return CK_FALSE; }
    void SetModifiable(bool) override {}
    const tru::Buffer& GetLabel() const override { return GetLabelStored(); }
    void SetLabel(const tru::Buffer& label) override { SetLabelStored(label); }
    CK_BBOOL IsCopyable() const override { return CK_FALSE; }
    void SetCopyable(bool copyable) override;
    // CKR_FUNCTION_FAILED without an owning token; 0 otherwise (no files).
    CK_ULONG GetObjectSize() override;
    CK_BBOOL GetLocal() const override { return CK_TRUE; }
    void SetLocal(CK_BBOOL) override {}
    const tru::Buffer& GetECParams() const override { return ecParams_; }
    void SetECParams(const tru::Buffer& params) override;

    uint16_t GetTokenIndexType() const override { return 0; }
    void StoreAttributes() override {}
    void ReadAttributes() override { InitDefaults(); }

    void SetParamsetID(EParamSet paramSet) { paramSet_ = paramSet; }
    EParamSet GetParamsetID() const { return paramSet_; }

private:
    EParamSet paramSet_ = EParamSet(0);
    tru::BufferDynamic ecParams_;
};

// The dotted named-curve identifier of a set 9..12, or null.
const char* UASgnParamsetOid(EParamSet paramSet);
// The named-curve block with DKE1 of a set 9..12, or null.
const tru::Buffer* UASgnParamsetBlock(EParamSet paramSet);

} // namespace qel
