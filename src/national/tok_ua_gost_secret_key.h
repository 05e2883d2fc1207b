// GOST 28147-89 secret key kept on the token: the 32-byte value in a data file, the attributes
// in an attribute file, the S-box as supplied (CKA_GOST_SBOXES) and as the DKE the ciphers use.
#pragma once

#include <cstdint>

#include "driver/lazy_data.h"
#include "driver/storage_types.h"
#include "driver/token_stored_object.h"
#include "objects/tok_ua_gost_objects.h"
#include "support/noncopyable.h"
#include "support/safe_buffer.h"

namespace qel {

class TokUAGostSecretKey : public zrck::TokUAGostSecretKey, public TokenStoredObject, private vdk::Noncopyable {
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

    CK_BBOOL IsModifiable() const override { return IsModifiableStored() ? CK_TRUE : CK_FALSE; }
    const tru::Buffer& GetLabel() const override { return GetLabelStored(); }
    CK_BBOOL IsCopyable() const override { return IsCopyableStored() ? CK_TRUE : CK_FALSE; }
    void SetCopyable(bool copyable) override { SetCopyableStored(copyable); }
    CK_ULONG GetObjectSize() override;
    void SetModifiable(bool modifiable) override { SetModifiableStored(modifiable); }
    void SetLabel(const tru::Buffer& label) override { SetLabelStored(label); }

    const tru::Buffer& GetKeyID() const override { return keyId_; }
    void SetKeyID(const tru::Buffer& id) override;
    CK_DATE GetStartDate() const override { return startDate_; }
    void SetStartDate(const CK_DATE& date) override { startDate_ = date; }
    CK_DATE GetEndDate() const override { return endDate_; }
    void SetEndDate(const CK_DATE& date) override { endDate_ = date; }
    const CK_ZR_DATETIME* GetGenerationDate() const override { return &generationDate_; }
    void SetGenerationDate(const CK_ZR_DATETIME& date) override { generationDate_ = date; }
    CK_BBOOL GetCouldDerive() const override { return derive_; }
    void SetCouldDerive(CK_BBOOL value) override { derive_ = Bool(value); }
    CK_BBOOL GetLocal() const override { return local_; }
    void SetLocal(CK_BBOOL value) override { local_ = Bool(value); }
    CK_MECHANISM_TYPE GetKeyGenMechanism() const override { return keyGenMechanism_; }
    void SetKeyGenMechanism(CK_MECHANISM_TYPE type) override { keyGenMechanism_ = type; }
    tru::Buffer GetAllowedMechanisms() const override;
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override;
    void AddDefaultUsageAttributes() override;
    CK_BBOOL GetIsExtractable() const override { return flag(kExtractable); }

    CK_BBOOL GetIsSensitive() const override { return flag(kSensitive); }
    // Once sensitive, always sensitive: turning it off is CKR_ATTRIBUTE_READ_ONLY.
    void SetIsSensitive(CK_BBOOL value) override;
    CK_BBOOL GetCouldEncrypt() const override { return flag(kEncrypt); }
    void SetCouldEncrypt(CK_BBOOL value) override { setFlag(kEncrypt, value); }
    CK_BBOOL GetCouldDecrypt() const override { return flag(kDecrypt); }
    void SetCouldDecrypt(CK_BBOOL value) override { setFlag(kDecrypt, value); }
    CK_BBOOL GetCouldSign() const override { return flag(kSign); }
    void SetCouldSign(CK_BBOOL value) override { setFlag(kSign, value); }
    CK_BBOOL GetCouldVerify() const override { return flag(kVerify); }
    void SetCouldVerify(CK_BBOOL value) override { setFlag(kVerify, value); }
    CK_BBOOL GetCouldWrap() const override { return flag(kWrap); }
    void SetCouldWrap(CK_BBOOL value) override { setFlag(kWrap, value); }
    CK_BBOOL GetCouldUnwrap() const override { return flag(kUnwrap); }
    void SetCouldUnwrap(CK_BBOOL value) override { setFlag(kUnwrap, value); }
    void SetIsExtractable(CK_BBOOL value) override { setFlag(kExtractable, value); }
    CK_BBOOL GetIsAlwaysSensitive() const override { return flag(kAlwaysSensitive); }
    // True also makes the key sensitive.
    void SetIsAlwaysSensitive(CK_BBOOL value) override;
    CK_BBOOL GetIsNeverExtractable() const override { return flag(kNeverExtractable); }
    void SetIsNeverExtractable(CK_BBOOL value) override { setFlag(kNeverExtractable, value); }
    // GOST keys carry no check value: CKR_ATTRIBUTE_TYPE_INVALID.
    const tru::Buffer& GetCheckValue() const override;
    void SetCheckValue(const tru::Buffer& value) override;
    CK_BBOOL GetCouldWrapOnlyWithTrusted() const override { return flag(kWrapWithTrusted); }
    // One way: whatever is given, the flag becomes true.
    void SetCouldWrapOnlyWithTrusted(CK_BBOOL) override { setFlag(kWrapWithTrusted, CK_TRUE); }
    CK_BBOOL GetIsTrusted() const override { return flag(kTrusted); }
    void SetIsTrusted(CK_BBOOL value) override { setFlag(kTrusted, value); }
    tru::Buffer GetValueToWrap() override { return tru::Buffer(GetValue()); }
    void AddDefaultSensitiveAttributes() override { setFlag(kSensitive, CK_TRUE); }
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession&) override {}

    const tru::Buffer& GetSBox() const override { return sBoxAttribute_; }
    // Resolves the S-box: empty (DKE1), a DER Dke with a value or one of the ten identifiers,
    // or the DER CKA_ID of a GOST domain-parameters object in the token's parameter storage.
    void SetSBox(const tru::Buffer& sBox) override;
    // A value in memory needs no token; an unread one is read from its data file
    // (CKR_FUNCTION_FAILED without a token).
    const tru::Buffer& GetValue() const override;
    // Exactly 32 bytes, else CKR_ATTRIBUTE_VALUE_INVALID; written by StoreAttributes.
    void SetValue(const tru::Buffer& value) override;

    const tru::Buffer& GetSubject() const { return subject_; }
    void SetSubject(const tru::Buffer& subject);
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
    enum Flag : unsigned {
        kEncrypt, kDecrypt, kWrap, kUnwrap, kSign, kVerify, kWrapWithTrusted, kSensitive,
        kExtractable, kAlwaysSensitive, kNeverExtractable, kTrusted, kFlagCount
    };

    static CK_BBOOL Bool(CK_BBOOL value) { return value != CK_FALSE ? CK_TRUE : CK_FALSE; }
    CK_BBOOL flag(Flag which) const { return flags_[which]; }
    void setFlag(Flag which, CK_BBOOL value) { flags_[which] = Bool(value); }
    uint32_t StoredFlags() const;
    void ApplyStoredExtras(zrck::AttributeTemplate& attributes);
    void ApplyStoredSBox(zrck::AttributeTemplate& attributes);

    CK_DATE startDate_;
    CK_DATE endDate_;
    CK_BBOOL derive_ = CK_FALSE;
    CK_BBOOL local_ = CK_FALSE;
    CK_MECHANISM_TYPE keyGenMechanism_ = 0;
    CK_BBOOL flags_[kFlagCount] = {};
    vdk::SafeBuffer sBoxAttribute_;
    vdk::SafeBuffer sBoxInUse_;
    bool sBoxPending_ = false;
    mutable LazyData value_;
    tru::BufferDynamic keyId_;
    tru::BufferDynamic subject_;
    CK_ZR_DATETIME generationDate_;
};

}  // namespace qel
