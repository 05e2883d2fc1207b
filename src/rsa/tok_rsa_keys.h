// The token's RSA key objects. A private key lives only in a device key slot (item type 2) and
// keeps its attributes, the modulus among them, in an attribute file; a public key keeps its
// modulus in a data file read on first use (item type 3) and its other attributes in an
// attribute file. Both have the public exponent 65537 and nothing else.
#pragma once

#include "device/device_types.h"
#include "driver/lazy_data.h"
#include "driver/stored_key.h"
#include "driver/token_stored_object.h"
#include "objects/tok_rsa_keys.h"
#include "support/safe_buffer.h"

#include <string>

namespace qel {

constexpr uint16_t kRsaPrivateKeyItemType = 2;
constexpr uint16_t kRsaPublicKeyItemType = 3;

class TokRsaPrivateKey : public StoredPrivateKey<zrck::KeptPrivateKey<zrck::TokRsaPrivateKey>> {
public:
    // 01 00 01, the only public exponent an RSA key of the token has.
    static const tru::Buffer PUBLIC_EXPONENT;

    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokRsaPrivateKey::ClassCouldBeCreated(attributes);
    }
    static zrck::TokObject* GenerateTokObject() { return new TokRsaPrivateKey(); }
    // Appends one import-blob component: its length as 2 bytes big-endian and its bytes. A
    // component above 65535 bytes does not fit: CKR_ATTRIBUTE_VALUE_INVALID.
    static void AddRsaKeyComponent(vdk::SafeBuffer& blob, const tru::Buffer& component);
    // The mechanisms both RSA key classes allow: X.509, PKCS#1 and SHA-1 to SHA-512 with RSA.
    static tru::Buffer AllowedMechanismTable();
    static bool IsInAllowedMechanismTable(CK_MECHANISM_TYPE type);

    // Import: all seven components go to a new device key slot, never into the object.
    void InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override;
    // A private key cannot be copied: CKR_FUNCTION_NOT_SUPPORTED.
    zrck::TokObject* GenerateCopy() override;

    CK_ULONG GetObjectSize() override;

    tru::Buffer GetAllowedMechanisms() const override;
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override;
    void AddDefaultUsageAttributes() override;

    const tru::Buffer& GetModulus() const override { return modulus_; }
    void SetModulus(const tru::Buffer& modulus) override;
    // The bits field when set, else the modulus length times 8.
    CK_ULONG GetModulusBits() const override;
    void SetModulusBits(CK_ULONG bits) override { modulusBits_ = static_cast<uint32_t>(bits); }
    const tru::Buffer& GetPublicExponent() const override { return PUBLIC_EXPONENT; }
    // Anything but 65537: CKR_ATTRIBUTE_VALUE_INVALID; nothing is stored.
    void SetPublicExponent(const tru::Buffer& exponent) override;
    // The private components never leave the token (CKR_KEY_UNEXTRACTABLE) and reach it only
    // through InitializeWithAttributes.
    const tru::Buffer& GetPrivateExponent() const override;
    void SetPrivateExponent(const tru::Buffer&) override {}
    const tru::Buffer& GetPrime1() const override;
    void SetPrime1(const tru::Buffer&) override {}
    const tru::Buffer& GetPrime2() const override;
    void SetPrime2(const tru::Buffer&) override {}
    const tru::Buffer& GetExponent1() const override;
    void SetExponent1(const tru::Buffer&) override {}
    const tru::Buffer& GetExponent2() const override;
    void SetExponent2(const tru::Buffer&) override {}
    const tru::Buffer& GetCoefficient() const override;
    void SetCoefficient(const tru::Buffer&) override {}

    // A key without a key slot has nothing on the token to describe: CKR_TEMPLATE_INCOMPLETE.
    void StoreAttributes() override;
    void ReadAttributes() override;
    uint16_t GetTokenIndexType() const override { return kRsaPrivateKeyItemType; }
    bool RefreshFrom(TokenStoredObject& other) override;

    long GetKeySlot() const { return GetObjectFile(); }

private:
    uint32_t modulusBits_ = 0;
    tru::BufferDynamic modulus_;
};

class TokRsaPublicKey : public StoredPublicKey<zrck::KeptPublicKey<zrck::TokRsaPublicKey>> {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokRsaPublicKey::ClassCouldBeCreated(attributes);
    }
    static zrck::TokObject* GenerateTokObject() { return new TokRsaPublicKey(); }

    // 512, 1024, 1536, 2048 bits -> parameter sets 13, 6, 7, 8; else CKR_ATTRIBUTE_VALUE_INVALID.
    static EParamSet ConvertBitsToParamset(CK_ULONG bits);
    // In: a modulus; out: the device public-key blob N(2 bytes) modulus 00 03 01 00 01, N from the
    // key size. A size other than the four: CKR_GENERAL_ERROR.
    static void GeneratePublicKey(tru::BufferDynamic& buffer, CK_ULONG bits);
    // In: a device public-key blob of the parameter set; out: its modulus. Any other layout or
    // length: CKR_GENERAL_ERROR.
    static void ExtractModulus(tru::BufferDynamic& buffer, EParamSet paramSet);

    TokRsaPublicKey() = default;

    // A copy carries the modulus, read from the token first when it was never read.
    zrck::TokObject* GenerateCopy() override;

    CK_ULONG GetObjectSize() override;

    tru::Buffer GetAllowedMechanisms() const override;
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override;
    void AddDefaultUsageAttributes() override;

    // Read from the data file on first use; CKR_FUNCTION_FAILED when that needs a token and
    // there is none.
    const tru::Buffer& GetModulus() const override;
    void SetModulus(const tru::Buffer& modulus) override { modulus_.SetData(modulus); }
    CK_ULONG GetModulusBits() const override;
    void SetModulusBits(CK_ULONG bits) override { modulusBits_ = static_cast<uint32_t>(bits); }
    const tru::Buffer& GetPublicExponent() const override { return TokRsaPrivateKey::PUBLIC_EXPONENT; }
    void SetPublicExponent(const tru::Buffer& exponent) override;

    uint16_t GetTokenIndexType() const override { return kRsaPublicKeyItemType; }
    void StoreAttributes() override;
    void ReadAttributes() override;
    bool RefreshFrom(TokenStoredObject& other) override;

private:
    uint32_t modulusBits_ = 0;
    mutable LazyData modulus_;
};

}  // namespace qel
