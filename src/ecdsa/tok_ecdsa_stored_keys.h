// EC keys kept in token files. On the model whose device does ECDSA the key pair lives in a
// device key slot (item types 13 and 14); on the other model the keys are only kept, the
// private value in a data file (item types 11 and 12). A public key keeps its point in a data
// file either way.
#pragma once

#include "driver/stored_curve_keys.h"
#include "objects/tok_ecdsa_keys.h"

namespace qel {

constexpr uint16_t kECDsaHostPrivateKeyItemType = 11;
constexpr uint16_t kECDsaHostPublicKeyItemType = 12;
constexpr uint16_t kECDsaDevicePrivateKeyItemType = 13;
constexpr uint16_t kECDsaDevicePublicKeyItemType = 14;

// What every stored EC key allows: CKM_ECDSA and CKM_ECDSA_SHA1 to CKM_ECDSA_SHA512.
tru::Buffer ECDsaAllowedMechanisms();
bool IsECDsaMechanismAllowed(CK_MECHANISM_TYPE type);

// A private key in a device key slot (the object file is the slot).
class TokECDsaHWPrivateKey : public StoredCurvePrivateKey<zrck::TokECDsaPrivateKey> {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokECDsaPrivateKey::ClassCouldBeCreated(attributes);
    }
    static zrck::TokObject* GenerateTokObject() { return new TokECDsaHWPrivateKey(); }

    // Only the token makes such a key (key-pair generation): a template cannot put a value into
    // a device key slot, so creation is refused with CKR_TEMPLATE_INCONSISTENT.
    void InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override;
    tru::Buffer GetAllowedMechanisms() const override { return ECDsaAllowedMechanisms(); }
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override { return IsECDsaMechanismAllowed(type); }
    // The value never leaves the token: CKR_KEY_UNEXTRACTABLE.
    const tru::Buffer& GetValue() const override;
    void SetValue(const tru::Buffer&) override {}
    uint16_t GetTokenIndexType() const override { return kECDsaDevicePrivateKeyItemType; }

protected:
    StoredCurvePrivateKey* MakeEmpty() const override { return new TokECDsaHWPrivateKey(); }
};

// A private key whose value the token only keeps, in the object's data file.
class TokECDsaPrivateKey : public StoredCurvePrivateKey<zrck::TokECDsaPrivateKey> {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokECDsaPrivateKey::ClassCouldBeCreated(attributes);
    }
    static zrck::TokObject* GenerateTokObject() { return new TokECDsaPrivateKey(); }

    tru::Buffer GetAllowedMechanisms() const override { return ECDsaAllowedMechanisms(); }
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override { return IsECDsaMechanismAllowed(type); }
    // Read from the data file on first use; CKR_FUNCTION_FAILED without a token.
    const tru::Buffer& GetValue() const override;
    void SetValue(const tru::Buffer& value) override { value_.SetData(value); }
    uint16_t GetTokenIndexType() const override { return kECDsaHostPrivateKeyItemType; }

protected:
    StoredCurvePrivateKey* MakeEmpty() const override { return new TokECDsaPrivateKey(); }
    LazyData* DataFileValue() override { return &value_; }

private:
    mutable LazyData value_;
};

// An EC public key; the point must be an uncompressed point on the named curve.
class StoredECDsaPublicKey : public StoredCurvePublicKey<zrck::TokECDsaPublicKey> {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokECDsaPublicKey::ClassCouldBeCreated(attributes);
    }

    // CKA_EC_POINT required; the point is checked on the curve of CKA_EC_PARAMS (any curve of
    // the EC utility's table): CKR_PUBLIC_KEY_INVALID otherwise.
    void InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override;
    tru::Buffer GetAllowedMechanisms() const override { return ECDsaAllowedMechanisms(); }
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override { return IsECDsaMechanismAllowed(type); }
    // The DER OCTET STRING form only (CKR_ATTRIBUTE_VALUE_INVALID otherwise).
    void SetECPoint(const tru::Buffer& point) override;

protected:
    bool StoresEmptyParams() const override { return false; }
};

class TokECDsaHWPublicKey : public StoredECDsaPublicKey {
public:
    static zrck::TokObject* GenerateTokObject() { return new TokECDsaHWPublicKey(); }
    uint16_t GetTokenIndexType() const override { return kECDsaDevicePublicKeyItemType; }

protected:
    StoredCurvePublicKey* MakeEmpty() const override { return new TokECDsaHWPublicKey(); }
};

class TokECDsaPublicKey : public StoredECDsaPublicKey {
public:
    static zrck::TokObject* GenerateTokObject() { return new TokECDsaPublicKey(); }
    uint16_t GetTokenIndexType() const override { return kECDsaHostPublicKeyItemType; }

protected:
    StoredCurvePublicKey* MakeEmpty() const override { return new TokECDsaPublicKey(); }
};

} // namespace qel
