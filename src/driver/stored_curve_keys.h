// Curve keys kept on the token, ECDSA and DSTU 4145 alike: the values beside the class's flags,
// the attribute file (flags word, key generation mechanism, EC parameters, then the optional
// label, ID, dates, generation date and subject), reading back, refreshing from a copy read
// again, copying and the text form. A large value (the public point, a host-held private value)
// lives in the object's data file and is read on first use.
#pragma once

#include "driver/lazy_data.h"
#include "driver/token_stored_object.h"
#include "objects/tok_curve_keys.h"
#include "support/noncopyable.h"

#include <string>

namespace qel {

class TokenStorage;

// Values both key halves keep beside their own flags.
struct CurveKeyFields {
    CurveKeyFields();

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
    void CopyPlainValues(const CurveKeyFields& other);
    // Copies EC parameters, key ID and subject; true when any of them differed.
    bool RefreshBuffers(const CurveKeyFields& other);
};

// Base: zrck::TokECDsaPrivateKey or zrck::TokUASgnPrivateKey.
template <class Base>
class StoredCurvePrivateKey : public Base, public TokenStoredObject, private vdk::Noncopyable {
public:
    StoredCurvePrivateKey();

    zrck::TokObject* GenerateCopy() override;
    std::string ToString() const override;

    // Storage object.
    void InitDefaults() override {}
    CK_BBOOL IsModifiable() const override { return IsModifiableStored(); }
    void SetModifiable(bool modifiable) override { SetModifiableStored(modifiable); }
    const tru::Buffer& GetLabel() const override { return GetLabelStored(); }
    void SetLabel(const tru::Buffer& label) override { SetLabelStored(label); }
    // Private keys are never copied by value: CKA_COPYABLE reads false.
    CK_BBOOL IsCopyable() const override { return CK_FALSE; }
    void SetCopyable(bool) override {}
    // The files plus 16 for the key.
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
    // True also makes the key sensitive.
    void SetIsAlwaysSensitive(CK_BBOOL value) override;
    CK_BBOOL GetIsNeverExtractable() const override { return neverExtractable_; }
    void SetIsNeverExtractable(CK_BBOOL value) override { neverExtractable_ = value; }
    // Kept as given, so that a stored false reads back false.
    CK_BBOOL GetCouldUnwrapOnlyWithTrusted() const override { return wrapWithTrusted_; }
    void SetCouldUnwrapOnlyWithTrusted(CK_BBOOL value) override { wrapWithTrusted_ = value; }
    CK_BBOOL GetNeedAlwaysAuthenticate() const override { return alwaysAuthenticate_; }
    void SetNeedAlwaysAuthenticate(CK_BBOOL value) override { alwaysAuthenticate_ = value; }
    tru::Buffer GetValueToWrap() override { return tru::Buffer(); }
    void AddDefaultSensitiveAttributes() override { sensitive_ = CK_TRUE; }
    // Sensitive, always sensitive, not extractable, never extractable.
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession& session) override;

    const tru::Buffer& GetECParams() const override { return fields_.ecParams; }
    void SetECParams(const tru::Buffer& params) override;

    // Token files. Storing a key not yet on the token reserves its files (ReserveFiles); a
    // value kept in a data file is written when it is in memory.
    void StoreAttributes() override;
    void ReadAttributes() override;
    bool RefreshFrom(TokenStoredObject& other) override;

    // The device key slot of a key the token holds.
    long GetKeySlot() const { return GetObjectFile(); }

protected:
    // A new, empty object of the concrete class (copies start from it).
    virtual StoredCurvePrivateKey* MakeEmpty() const = 0;
    // The value kept in the object's data file; none by default (the token holds the key).
    virtual LazyData* DataFileValue() { return nullptr; }
    // Files of a key not yet on the token: only a private key is stored (CKR_ATTRIBUTE_VALUE_INVALID),
    // under the class's item type in the private range.
    virtual void ReserveFiles();
    TokenStorage& Storage() const;

private:
    uint32_t FlagsWord() const;

    CurveKeyFields fields_;
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

// Base: zrck::TokECDsaPublicKey or zrck::TokUASgnPublicKey. The point (DER OCTET STRING) is kept
// in the object's data file.
template <class Base>
class StoredCurvePublicKey : public Base, public TokenStoredObject, private vdk::Noncopyable {
public:
    StoredCurvePublicKey() = default;

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

    void StoreAttributes() override;
    void ReadAttributes() override;
    bool RefreshFrom(TokenStoredObject& other) override;

protected:
    virtual StoredCurvePublicKey* MakeEmpty() const = 0;
    // Whether an empty CKA_EC_PARAMS is still written as a record.
    virtual bool StoresEmptyParams() const { return true; }
    // Keeps a point the concrete class has checked.
    void KeepECPoint(const tru::Buffer& point) { ecPoint_.SetData(point); }
    TokenStorage& Storage() const;

private:
    uint32_t FlagsWord() const;

    CurveKeyFields fields_;
    CK_BBOOL encrypt_ = CK_FALSE;
    CK_BBOOL verify_ = CK_FALSE;
    CK_BBOOL verifyRecover_ = CK_FALSE;
    CK_BBOOL wrap_ = CK_FALSE;
    CK_BBOOL trusted_ = CK_FALSE;
    mutable LazyData ecPoint_;
};

} // namespace qel
