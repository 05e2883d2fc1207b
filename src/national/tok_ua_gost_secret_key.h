// GOST 28147-89 secret key kept on the token: the 32-byte value in a data file, the attributes
// in an attribute file, the S-box as supplied (CKA_GOST_SBOXES) and as the DKE the ciphers use.
#pragma once

#include <cstdint>

#include "driver/lazy_data.h"
#include "driver/storage_types.h"
#include "driver/stored_object.h"
#include "objects/kept_key.h"
#include "objects/tok_ua_gost_objects.h"
#include "support/noncopyable.h"
#include "support/safe_buffer.h"

namespace qel {

class TokUAGostSecretKey : public StoredObject<zrck::KeptSecretKey<zrck::TokUAGostSecretKey>>,
                           private vdk::Noncopyable {
public:
    // Bytes a key adds to its files in the token's size accounting.
    static constexpr CK_ULONG kKeyObjectSize = 48;

    TokUAGostSecretKey();
    ~TokUAGostSecretKey() override = default;

    static zrck::TokObject* GenerateTokObject() { return new TokUAGostSecretKey(); }
    static TokenStoredObject* GenerateObject() { return new TokUAGostSecretKey(); }
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokUAGostSecretKey::ClassCouldBeCreated(attributes);
    }

    // Creation: the attribute rules, then the token must offer the national objects.
    void InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override;
    zrck::TokObject* GenerateCopy() override;
    void InitDefaults() override;

    CK_ULONG GetObjectSize() override;
    tru::Buffer GetAllowedMechanisms() const override;
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override;
    void AddDefaultUsageAttributes() override;
    // One way: whatever is given, the flag becomes true.
    void SetCouldWrapOnlyWithTrusted(CK_BBOOL) override { flags_.wrapWithTrusted = CK_TRUE; }
    void AddDefaultSensitiveAttributes() override { flags_.sensitive = CK_TRUE; }

    const tru::Buffer& GetSBox() const override { return sBoxAttribute_; }
    // Resolves the S-box: empty (DKE1), a DER Dke with a value or one of the ten identifiers,
    // or the DER CKA_ID of a GOST domain-parameters object in the token's parameter storage.
    void SetSBox(const tru::Buffer& sBox) override;
    // A value in memory needs no token; an unread one is read from its data file
    // (CKR_FUNCTION_FAILED without a token).
    const tru::Buffer& GetValue() const override;
    // Exactly 32 bytes, else CKR_ATTRIBUTE_VALUE_INVALID; written by StoreAttributes.
    void SetValue(const tru::Buffer& value) override;

    // The DKE the ciphers use, normally 64 bytes; empty while a stored S-box is unresolved.
    const tru::Buffer& GetSBoxValue() const { return sBoxInUse_; }
    // A key read from the token may name domain parameters read after it: resolved here.
    void ResolveSBoxIfPending();
    void CalculateCheckValue() {}

    uint16_t GetTokenIndexType() const override { return UA_GOST_SECRET_KEY; }
    void StoreAttributes() override;
    void ReadAttributes() override;
    // Takes over a twin's values unless the refresh lock is set; true when the S-box, the key
    // ID or the subject changed.
    bool RefreshFrom(TokenStoredObject& other) override;

private:
    void ApplyStoredSBox(zrck::AttributeTemplate& attributes);

    vdk::SafeBuffer sBoxAttribute_;
    vdk::SafeBuffer sBoxInUse_;
    bool sBoxPending_ = false;
    mutable LazyData value_;
};

}  // namespace qel
