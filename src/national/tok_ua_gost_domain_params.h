// GOST 28147-89 S-box domain parameters kept on the token: CKA_ID (a DER OBJECT IDENTIFIER)
// names an S-box (CKA_GOST_SBOXES, a DER OCTET STRING) so that keys can refer to it.
#pragma once

#include <cstdint>

#include "driver/storage_types.h"
#include "driver/token_stored_object.h"
#include "objects/tok_ua_gost_objects.h"
#include "support/noncopyable.h"

namespace qel {

class TokUAGostDomainParams : public zrck::TokUAGostDomainParams,
                              public TokenStoredObject,
                              private vdk::Noncopyable {
public:
    static zrck::TokObject* GenerateTokObject() { return new TokUAGostDomainParams(); }
    static TokenStoredObject* GenerateObject() { return new TokUAGostDomainParams(); }
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokUAGostDomainParams::ClassCouldBeCreated(attributes);
    }

    // Creation: the attribute rules, the token's national support, then registration of the
    // S-box under the ID in the token's parameter storage.
    void InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override;
    void RegisterObject() override {}
    zrck::TokObject* GenerateCopy() override { return nullptr; }
    void InitDefaults() override {}
    CK_BBOOL IsModifiable() const override { return CK_FALSE; }
    const tru::Buffer& GetLabel() const override { return GetLabelStored(); }
    CK_BBOOL IsCopyable() const override { return CK_FALSE; }
    void SetCopyable(bool copyable) override;
    CK_ULONG GetObjectSize() override;
    void SetModifiable(bool) override {}
    void SetLabel(const tru::Buffer& label) override { SetLabelStored(label); }
    CK_BBOOL GetLocal() const override { return CK_TRUE; }
    void SetLocal(CK_BBOOL) override {}

    const tru::Buffer& GetID() const override { return id_; }
    // A non-empty value must be one DER OBJECT IDENTIFIER (CKR_ATTRIBUTE_VALUE_INVALID).
    void SetID(const tru::Buffer& id) override;
    const tru::Buffer& GetSBox() const override { return sBox_; }
    // A non-empty value must be one DER OCTET STRING (CKR_ATTRIBUTE_VALUE_INVALID).
    void SetSBox(const tru::Buffer& sBox) override;

    uint16_t GetTokenIndexType() const override { return UA_GOST_DOMAIN_PARAMS; }
    void StoreAttributes() override;
    void ReadAttributes() override;
    bool RefreshFrom(TokenStoredObject&) override { return false; }

private:
    tru::BufferDynamic sBox_;
    tru::BufferDynamic id_;
};

}  // namespace qel
