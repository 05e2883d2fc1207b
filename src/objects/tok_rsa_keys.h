// Attribute classes of RSA private and public keys.
#ifndef ZR_OBJECTS_TOK_RSA_KEYS_H
#define ZR_OBJECTS_TOK_RSA_KEYS_H

#include "objects/tok_key.h"

namespace zrck {

// The public values both RSA key halves have.
class TokRsaPublicValues {
public:
    virtual ~TokRsaPublicValues() = default;

    virtual const tru::Buffer& GetModulus() const = 0;
    virtual void SetModulus(const tru::Buffer& modulus) = 0;
    virtual CK_ULONG GetModulusBits() const = 0;
    virtual void SetModulusBits(CK_ULONG bits) = 0;
    virtual const tru::Buffer& GetPublicExponent() const = 0;
    virtual void SetPublicExponent(const tru::Buffer& exponent) = 0;
};

class TokRsaPrivateKey : public TokPrivateKey, public TokRsaPublicValues {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    CK_KEY_TYPE GetKeyType() const override { return CKK_RSA; }
    bool IsGenerationDateSupported() const override { return true; }
    bool IsGenerationUTCSupported() const override { return false; }
    const char* GetObjectClassName() const override { return "TokRsaPrivateKey"; }
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    // Every RSA component is fixed once the key exists.
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    // Needs CKA_MODULUS and CKA_PRIVATE_EXPONENT; CKA_MODULUS_BITS is derived, never given.
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;

    // Has a body concrete classes may call: the bit length of the modulus.
    CK_ULONG GetModulusBits() const override = 0;
    virtual const tru::Buffer& GetPrivateExponent() const = 0;
    virtual void SetPrivateExponent(const tru::Buffer& exponent) = 0;
    virtual const tru::Buffer& GetPrime1() const = 0;
    virtual void SetPrime1(const tru::Buffer& prime) = 0;
    virtual const tru::Buffer& GetPrime2() const = 0;
    virtual void SetPrime2(const tru::Buffer& prime) = 0;
    virtual const tru::Buffer& GetExponent1() const = 0;
    virtual void SetExponent1(const tru::Buffer& exponent) = 0;
    virtual const tru::Buffer& GetExponent2() const = 0;
    virtual void SetExponent2(const tru::Buffer& exponent) = 0;
    virtual const tru::Buffer& GetCoefficient() const = 0;
    virtual void SetCoefficient(const tru::Buffer& coefficient) = 0;

    // CKA_DECRYPT, CKA_SIGN and CKA_SIGN_RECOVER true where the template names none of them.
    void AddDefaultAttributes(AttributeTemplate& attributes);

private:
    const tru::Buffer* PrivateComponent(CK_ATTRIBUTE_TYPE type) const;
};

class TokRsaPublicKey : public TokPublicKey, public TokRsaPublicValues {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    CK_KEY_TYPE GetKeyType() const override { return CKK_RSA; }
    bool IsGenerationDateSupported() const override { return true; }
    bool IsGenerationUTCSupported() const override { return false; }
    const char* GetObjectClassName() const override { return "TokRsaPublicKey"; }
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    // The modulus, its bit count and the public exponent are fixed once the key exists.
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    // Needs CKA_MODULUS and CKA_PUBLIC_EXPONENT; CKA_MODULUS_BITS is derived, never given.
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;

    // CKA_ENCRYPT, CKA_VERIFY and CKA_VERIFY_RECOVER true where the template names none of them.
    virtual void AddDefaultAttributes(AttributeTemplate& attributes);
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_RSA_KEYS_H
