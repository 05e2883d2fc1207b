// The token's DSTU 4145 key objects. A private key's value lives only in a device key slot (item
// type 7); a public key keeps its point in a data file (item type 8). Both keep their other
// attributes in an attribute file.
#pragma once

#include "driver/lazy_data.h"
#include "driver/storage_types.h"
#include "driver/token_stored_object.h"
#include "objects/tok_ua_sgn_objects.h"
#include "support/noncopyable.h"

#include <string>
#include <vector>

namespace qel {

class TokenStorage;

constexpr uint16_t kUASgnPrivateKeyItemType = 7;
constexpr uint16_t kUASgnPublicKeyItemType = 8;

// Values both key classes keep beside their class's own flags.
struct UASgnKeyFields {
    UASgnKeyFields();

    CK_DATE startDate;
    CK_DATE endDate;
    CK_BBOOL derive = CK_FALSE;
    CK_BBOOL local = CK_FALSE;
    CK_MECHANISM_TYPE keyGenMechanism = 0;
    tru::BufferDynamic ecParams;
    tru::BufferDynamic keyId;
    tru::BufferDynamic subject;
    CK_ZR_DATETIME generationDate;

    // Copies the values a refresh takes unconditionally.
    void CopyPlainValues(const UASgnKeyFields& other);
    // Copies EC parameters, key ID and subject; true when any of them differed.
    bool RefreshBuffers(const UASgnKeyFields& other);
};

class TokUASgnPrivateKey : public zrck::TokUASgnPrivateKey, public TokenStoredObject, private vdk::Noncopyable {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokUASgnPrivateKey::ClassCouldBeCreated(attributes);
    }
    static zrck::TokObject* GenerateTokObject() { return new TokUASgnPrivateKey(); }

    TokUASgnPrivateKey();

    // Import: a CKA_VALUE goes to a new device key slot, never into the object.
    void InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override;
    zrck::TokObject* GenerateCopy() override;
    std::string ToString() const override;

    // Storage object.
    void InitDefaults() override {}
    CK_BBOOL IsModifiable() const override { return IsModifiableStored(); }
    void SetModifiable(bool modifiable) override { SetModifiableStored(modifiable); }
    const tru::Buffer& GetLabel() const override { return GetLabelStored(); }
    void SetLabel(const tru::Buffer& label) override { SetLabelStored(label); }
    CK_BBOOL IsCopyable() const override { return CK_FALSE; }
    void SetCopyable(bool) override {}
    CK_ULONG GetObjectSize() override;

    // Key.
    const tru::Buffer& GetKeyID() const override { return fields_.keyId; }
    void SetKeyID(const tru::Buffer& id) override;
    CK_DATE GetStartDate() const override { return fields_.startDate; }
    void SetStartDate(const CK_DATE& date) override { fields_.startDate = date; }
    CK_DATE GetEndDate() const override { return fields_.endDate; }
    void SetEndDate(const CK_DATE& date) override { fields_.endDate = date; }
    bool IsGenerationDateSupported() const override { return true; }
    const CK_ZR_DATETIME* GetGenerationDate() const override { return &fields_.generationDate; }
    void SetGenerationDate(const CK_ZR_DATETIME& date) override { fields_.generationDate = date; }
    bool IsGenerationUTCSupported() const override { return false; }
    CK_BBOOL GetCouldDerive() const override { return fields_.derive; }
    void SetCouldDerive(CK_BBOOL value) override { fields_.derive = value; }
    CK_BBOOL GetLocal() const override { return fields_.local; }
    void SetLocal(CK_BBOOL value) override { fields_.local = value; }
    CK_MECHANISM_TYPE GetKeyGenMechanism() const override { return fields_.keyGenMechanism; }
    void SetKeyGenMechanism(CK_MECHANISM_TYPE type) override { fields_.keyGenMechanism = type; }
    tru::Buffer GetAllowedMechanisms() const override;
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override;
    void AddDefaultUsageAttributes() override;
    CK_BBOOL GetIsExtractable() const override { return extractable_; }

    // Private key.
    const tru::Buffer& GetSubject() const override { return fields_.subject; }
    void SetSubject(const tru::Buffer& subject) override;
    CK_BBOOL GetIsSensitive() const override { return sensitive_; }
    // A sensitive key stays sensitive: CKR_ATTRIBUTE_READ_ONLY.
    void SetIsSensitive(CK_BBOOL value) override;
    CK_BBOOL GetCouldDecrypt() const override { return decrypt_; }
    void SetCouldDecrypt(CK_BBOOL value) override { decrypt_ = value; }
    CK_BBOOL GetCouldSign() const override { return sign_; }
    void SetCouldSign(CK_BBOOL value) override { sign_ = value; }
    CK_BBOOL GetCouldSignRecover() const override { return signRecover_; }
    void SetCouldSignRecover(CK_BBOOL value) override { signRecover_ = value; }
    CK_BBOOL GetCouldUnwrap() const override { return unwrap_; }
    void SetCouldUnwrap(CK_BBOOL value) override { unwrap_ = value; }
    void SetIsExtractable(CK_BBOOL value) override { extractable_ = value; }
    CK_BBOOL GetIsAlwaysSensitive() const override { return alwaysSensitive_; }
    void SetIsAlwaysSensitive(CK_BBOOL value) override;
    CK_BBOOL GetIsNeverExtractable() const override { return neverExtractable_; }
    void SetIsNeverExtractable(CK_BBOOL value) override { neverExtractable_ = value; }
    CK_BBOOL GetCouldUnwrapOnlyWithTrusted() const override { return wrapWithTrusted_; }
    void SetCouldUnwrapOnlyWithTrusted(CK_BBOOL value) override { wrapWithTrusted_ = value; }
    CK_BBOOL GetNeedAlwaysAuthenticate() const override { return alwaysAuthenticate_; }
    void SetNeedAlwaysAuthenticate(CK_BBOOL value) override { alwaysAuthenticate_ = value; }
    tru::Buffer GetValueToWrap() override { return tru::Buffer(); }
    void AddDefaultSensitiveAttributes() override { sensitive_ = CK_TRUE; }
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession& session) override;

    // DSTU 4145.
    const tru::Buffer& GetECParams() const override { return fields_.ecParams; }
    void SetECParams(const tru::Buffer& params) override;
    // The value never leaves the token: CKR_KEY_UNEXTRACTABLE.
    const tru::Buffer& GetValue() const override;
    void SetValue(const tru::Buffer&) override {}

    // Token files.
    void StoreAttributes() override;
    void ReadAttributes() override;
    uint16_t GetTokenIndexType() const override { return kUASgnPrivateKeyItemType; }
    bool RefreshFrom(TokenStoredObject& other) override;

    // The device key slot of the key.
    long GetKeySlot() const { return GetObjectFile(); }

private:
    uint32_t FlagsWord() const;

    UASgnKeyFields fields_;
    CK_BBOOL sensitive_ = CK_FALSE;
    CK_BBOOL decrypt_ = CK_FALSE;
    CK_BBOOL sign_ = CK_FALSE;
    CK_BBOOL signRecover_ = CK_FALSE;
    CK_BBOOL unwrap_ = CK_FALSE;
    CK_BBOOL extractable_ = CK_FALSE;
    CK_BBOOL alwaysSensitive_ = CK_FALSE;
    CK_BBOOL neverExtractable_ = CK_FALSE;
    CK_BBOOL wrapWithTrusted_ = CK_FALSE;
    CK_BBOOL alwaysAuthenticate_ = CK_FALSE;
};

class TokUASgnPublicKey : public zrck::TokUASgnPublicKey, public TokenStoredObject, private vdk::Noncopyable {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes)
    {
        return zrck::TokUASgnPublicKey::ClassCouldBeCreated(attributes);
    }
    static zrck::TokObject* GenerateTokObject() { return new TokUASgnPublicKey(); }

    TokUASgnPublicKey() = default;

    // A copy carries the point, read from the token first when it was never read.
    zrck::TokObject* GenerateCopy() override;
    std::string ToString() const override;

    void InitDefaults() override {}
    CK_BBOOL IsModifiable() const override { return IsModifiableStored(); }
    void SetModifiable(bool modifiable) override { SetModifiableStored(modifiable); }
    const tru::Buffer& GetLabel() const override { return GetLabelStored(); }
    void SetLabel(const tru::Buffer& label) override { SetLabelStored(label); }
    CK_BBOOL IsCopyable() const override { return IsCopyableStored(); }
    void SetCopyable(bool copyable) override { SetCopyableStored(copyable); }
    CK_ULONG GetObjectSize() override;

    const tru::Buffer& GetKeyID() const override { return fields_.keyId; }
    void SetKeyID(const tru::Buffer& id) override;
    CK_DATE GetStartDate() const override { return fields_.startDate; }
    void SetStartDate(const CK_DATE& date) override { fields_.startDate = date; }
    CK_DATE GetEndDate() const override { return fields_.endDate; }
    void SetEndDate(const CK_DATE& date) override { fields_.endDate = date; }
    bool IsGenerationDateSupported() const override { return true; }
    const CK_ZR_DATETIME* GetGenerationDate() const override { return &fields_.generationDate; }
    void SetGenerationDate(const CK_ZR_DATETIME& date) override { fields_.generationDate = date; }
    bool IsGenerationUTCSupported() const override { return false; }
    CK_BBOOL GetCouldDerive() const override { return fields_.derive; }
    void SetCouldDerive(CK_BBOOL value) override { fields_.derive = value; }
    CK_BBOOL GetLocal() const override { return fields_.local; }
    void SetLocal(CK_BBOOL value) override { fields_.local = value; }
    CK_MECHANISM_TYPE GetKeyGenMechanism() const override { return fields_.keyGenMechanism; }
    void SetKeyGenMechanism(CK_MECHANISM_TYPE type) override { fields_.keyGenMechanism = type; }
    tru::Buffer GetAllowedMechanisms() const override;
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override;
    void AddDefaultUsageAttributes() override { verify_ = CK_TRUE; }

    const tru::Buffer& GetSubject() const override { return fields_.subject; }
    void SetSubject(const tru::Buffer& subject) override;
    CK_BBOOL GetCouldEncrypt() const override { return encrypt_; }
    void SetCouldEncrypt(CK_BBOOL value) override { encrypt_ = value; }
    CK_BBOOL GetCouldVerify() const override { return verify_; }
    void SetCouldVerify(CK_BBOOL value) override { verify_ = value; }
    CK_BBOOL GetCouldVerifyRecover() const override { return verifyRecover_; }
    void SetCouldVerifyRecover(CK_BBOOL value) override { verifyRecover_ = value; }
    CK_BBOOL GetCouldWrap() const override { return wrap_; }
    void SetCouldWrap(CK_BBOOL value) override { wrap_ = value; }
    CK_BBOOL GetIsTrusted() const override { return trusted_; }
    void SetIsTrusted(CK_BBOOL value) override { trusted_ = value; }
    // Not linked with an algorithm identifier: CKR_FUNCTION_FAILED.
    bool IsAlgOIDAcceptable(const char* oid, int length) override;

    const tru::Buffer& GetECParams() const override { return fields_.ecParams; }
    void SetECParams(const tru::Buffer& params) override;
    // Read from the data file on first use; CKR_FUNCTION_FAILED without an owning token.
    const tru::Buffer& GetECPoint() const override;
    // The DER OCTET STRING form only (CKR_ATTRIBUTE_VALUE_INVALID otherwise).
    void SetECPoint(const tru::Buffer& point) override;

    uint16_t GetTokenIndexType() const override { return kUASgnPublicKeyItemType; }
    void StoreAttributes() override;
    void ReadAttributes() override;
    bool RefreshFrom(TokenStoredObject& other) override;

private:
    uint32_t FlagsWord() const;

    UASgnKeyFields fields_;
    CK_BBOOL encrypt_ = CK_FALSE;
    CK_BBOOL verify_ = CK_FALSE;
    CK_BBOOL verifyRecover_ = CK_FALSE;
    CK_BBOOL wrap_ = CK_FALSE;
    CK_BBOOL trusted_ = CK_FALSE;
    mutable LazyData ecPoint_;
};

} // namespace qel
