// The token's Triple-DES key: the 24-byte value (DES parity set whenever a value is given) in a
// data file read on first use, the other attributes in an attribute file, item type 15. A
// sensitive or private key keeps both files in the private range: a sensitive key is made a
// private object when it is created on the token.
#pragma once

#include <cstdint>

#include "driver/lazy_data.h"
#include "driver/storage_types.h"
#include "driver/stored_object.h"
#include "support/noncopyable.h"
#include "swcrypto/des3_secret_key.h"

namespace qel {

class TokDES3SecretKey : public StoredObject<mbt::TokDES3SecretKey>, private vdk::Noncopyable {
public:
    static constexpr CK_ULONG kKeyObjectSize = 48;

    static zrck::TokObject* GenerateTokObject() { return new TokDES3SecretKey(); }
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokDES3SecretKey::ClassCouldBeCreated(attributes);
    }

    // The creation rules, then a token must be bound (CKR_FUNCTION_FAILED).
    void InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override;
    zrck::TokObject* GenerateCopy() override;
    CK_ULONG GetObjectSize() override;
    bool IsGenerationDateSupported() const override { return true; }
    bool IsGenerationUTCSupported() const override { return false; }
    tru::Buffer GetAllowedMechanisms() const override;
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override;
    void AddDefaultSensitiveAttributes() override { SetIsSensitive(CK_TRUE); }
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession&) override {}
    // A key whose files are already in the public range cannot become sensitive
    // (CKR_ATTRIBUTE_READ_ONLY): its value would stay in a public file.
    void SetIsSensitive(CK_BBOOL value) override;
    // The stored value, read from the data file on first use; CKR_FUNCTION_FAILED without a token.
    const tru::Buffer& GetValue() const override;
    // 24 bytes (else CKR_KEY_SIZE_RANGE), stored with DES parity set.
    void SetValue(const tru::Buffer& value) override;

    uint16_t GetTokenIndexType() const override { return DES3_SECRET_KEY; }
    void StoreAttributes() override;
    void ReadAttributes() override;
    bool RefreshFrom(TokenStoredObject& other) override;

private:
    mutable LazyData value_;
};

}  // namespace qel
