// The token's DSTU 4145 key objects. A private key's value lives only in a device key slot (item
// type 7); a public key keeps its point in a data file (item type 8). Both keep their other
// attributes in an attribute file, as every curve key does.
#pragma once

#include "driver/stored_curve_keys.h"
#include "objects/tok_ua_sgn_objects.h"

namespace qel {

constexpr uint16_t kUASgnPrivateKeyItemType = 7;
constexpr uint16_t kUASgnPublicKeyItemType = 8;

class TokUASgnPrivateKey : public StoredCurvePrivateKey<zrck::TokUASgnPrivateKey> {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokUASgnPrivateKey::ClassCouldBeCreated(attributes);
    }
    static zrck::TokObject* GenerateTokObject() { return new TokUASgnPrivateKey(); }

    // Import: a CKA_VALUE goes to a new device key slot, never into the object.
    void InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override;
    // A key in a device key slot cannot be copied: CKR_FUNCTION_NOT_SUPPORTED.
    zrck::TokObject* GenerateCopy() override;
    CK_ULONG GetObjectSize() override;
    tru::Buffer GetAllowedMechanisms() const override;
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override;
    // The value never leaves the token: CKR_KEY_UNEXTRACTABLE.
    const tru::Buffer& GetValue() const override;
    void SetValue(const tru::Buffer&) override {}
    uint16_t GetTokenIndexType() const override { return kUASgnPrivateKeyItemType; }

protected:
    StoredCurvePrivateKey* MakeEmpty() const override { return new TokUASgnPrivateKey(); }
    void ReserveFiles() override;
};

class TokUASgnPublicKey : public StoredCurvePublicKey<zrck::TokUASgnPublicKey> {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokUASgnPublicKey::ClassCouldBeCreated(attributes);
    }
    static zrck::TokObject* GenerateTokObject() { return new TokUASgnPublicKey(); }

    tru::Buffer GetAllowedMechanisms() const override;
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override;
    // The DER OCTET STRING form only (CKR_ATTRIBUTE_VALUE_INVALID otherwise).
    void SetECPoint(const tru::Buffer& point) override;
    uint16_t GetTokenIndexType() const override { return kUASgnPublicKeyItemType; }

protected:
    StoredCurvePublicKey* MakeEmpty() const override { return new TokUASgnPublicKey(); }
};

} // namespace qel
