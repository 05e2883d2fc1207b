// DSTU 4145 Diffie-Hellman key agreement on the token. The host builds the derivation input
// (DER SharedInfo) and the new key's S-box; the token computes the agreement and the GOST 34.311
// derivation; the 32 bytes become a new GOST 28147-89 secret key.
#pragma once

#include "objects/tok_ua_dh_mechanisms.h"
#include "support/noncopyable.h"
#include "support/safe_buffer.h"

#include <functional>
#include <memory>
#include <vector>

namespace qel {

// DER SharedInfo of the derivation: the wrap algorithm, the 64 bytes of shared data when given
// (empty: none), the key length 256 bits. CKR_FUNCTION_FAILED when it cannot be built.
std::vector<uint8_t> UADHSharedInfo(const tru::Buffer& sharedData);
// DER Dke holding the S-box bytes (CKA_GOST_SBOXES of the new key).
std::vector<uint8_t> UADHSBoxValue(const tru::Buffer& sbox);

// The two classes differ only in the cofactor flag sent to the token and in the secret key
// factory they offer.
class UADHDerivation {
public:
    UADHDerivation() = default;

    // Shared data: empty or 64 bytes ("Invalid SharedData capacity", CKR_MECHANISM_PARAM_INVALID).
    void SetSharedData(const tru::Buffer& data);
    void SetPublicData(const tru::Buffer& data);
    const tru::Buffer& GetSharedData() const { return sharedData_; }
    const tru::Buffer& GetPublicData() const { return publicData_; }
    void Clear();

    // The whole derivation after the parameter and the base key were checked; the key comes from
    // createKey and is filled from the template.
    std::shared_ptr<zrck::TokObject> Derive(zrck::TokMechanism& mechanism, zrck::MechanismSession& session,
                                            zrck::TokPrivateKey& baseKey, zrck::AttributeTemplate& attributes,
                                            bool cofactor,
                                            const std::function<std::shared_ptr<zrck::TokObject>()>& createKey);

private:
    vdk::SafeBuffer sharedData_;
    vdk::SafeBuffer publicData_;
};

class TokUADHCofactorDeriveMechanism : public zrck::TokUADHCofactorDeriveMechanism, private vdk::Noncopyable {
public:
    TokUADHCofactorDeriveMechanism();

    KeyPointer DeriveKey(zrck::MechanismSession& session, zrck::MechanismParameter& parameter,
                         zrck::TokPrivateKey& baseKey, zrck::AttributeTemplate& attributes) override;
    // Only a private key agrees: CKR_KEY_TYPE_INCONSISTENT.
    KeyPointer DeriveKey(zrck::MechanismSession& session, zrck::MechanismParameter& parameter,
                         zrck::TokPublicKey& baseKey, zrck::AttributeTemplate& attributes) override;
    void FreeResources() override;
    zrck::TokMechanism* Clone() const override;
    const tru::Buffer& GetSharedData() const override { return derivation_.GetSharedData(); }
    void SetSharedData(const tru::Buffer& data) override { derivation_.SetSharedData(data); }
    const tru::Buffer& GetPublicData() const override { return derivation_.GetPublicData(); }
    void SetPublicData(const tru::Buffer& data) override { derivation_.SetPublicData(data); }
    // CKK_GOST28147 only (CKR_ATTRIBUTE_VALUE_INVALID otherwise).
    KeyPointer CreateSecretKey(CK_KEY_TYPE keyType) override;

private:
    zrck::TokPrivateKey* baseKey_ = nullptr;
    UADHDerivation derivation_;
};

// The same derivation without the cofactor.
class TokUADHDeriveMechanism : public zrck::TokUADHDeriveMechanism, private vdk::Noncopyable {
public:
    TokUADHDeriveMechanism();

    KeyPointer DeriveKey(zrck::MechanismSession& session, zrck::MechanismParameter& parameter,
                         zrck::TokPrivateKey& baseKey, zrck::AttributeTemplate& attributes) override;
    KeyPointer DeriveKey(zrck::MechanismSession& session, zrck::MechanismParameter& parameter,
                         zrck::TokPublicKey& baseKey, zrck::AttributeTemplate& attributes) override;
    void FreeResources() override;
    zrck::TokMechanism* Clone() const override;
    const tru::Buffer& GetSharedData() const override { return derivation_.GetSharedData(); }
    void SetSharedData(const tru::Buffer& data) override { derivation_.SetSharedData(data); }
    const tru::Buffer& GetPublicData() const override { return derivation_.GetPublicData(); }
    void SetPublicData(const tru::Buffer& data) override { derivation_.SetPublicData(data); }
    KeyPointer CreateSecretKey() override;

private:
    zrck::TokPrivateKey* baseKey_ = nullptr;
    UADHDerivation derivation_;
};

} // namespace qel
