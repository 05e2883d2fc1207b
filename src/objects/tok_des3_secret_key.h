// Attribute class of Triple-DES secret keys (24-byte values).
#ifndef ZR_OBJECTS_TOK_DES3_SECRET_KEY_H
#define ZR_OBJECTS_TOK_DES3_SECRET_KEY_H

#include "objects/tok_key.h"

namespace zrck {

class TokDES3SecretKey : public TokSecretKey {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    CK_KEY_TYPE GetKeyType() const override { return CKK_DES3; }
    bool IsGenerationDateSupported() const override { return false; }
    bool IsGenerationUTCSupported() const override { return true; }
    // Concrete classes that keep a generation date replace both; these throw
    // CKR_ATTRIBUTE_TYPE_INVALID.
    const CK_ZR_DATETIME* GetGenerationDate() const override;
    void SetGenerationDate(const CK_ZR_DATETIME& date) override;
    bool IsKeySizeAcceptable(unsigned int bits) override { return bits == 192; }
    const char* GetObjectClassName() const override { return "TokDES3SecretKey"; }
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;

    virtual const tru::Buffer& GetValue() const = 0;
    virtual void SetValue(const tru::Buffer& value) = 0;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_DES3_SECRET_KEY_H
