// Parameter and key-type checks of the abstract mechanisms.
#include <gtest/gtest.h>

#include "class_fakes.h"
#include "class_test_util.h"
#include "objects/tok_des3_mechanisms.h"
#include "objects/tok_digest_mechanisms.h"
#include "objects/tok_ecdsa_mechanisms.h"
#include "objects/tok_key_pair_gen_mechanisms.h"
#include "objects/tok_rsa_mechanisms.h"
#include "objects/tok_ua_dh_mechanisms.h"
#include "objects/tok_ua_gost_mechanisms.h"
#include "objects/tok_ua_sgn_mechanisms.h"

namespace {

using namespace zrtest;
using zrck::MechanismParameter;
using zrck::MechanismSession;

MechanismParameter Parameter(CK_MECHANISM_TYPE type, const void* data, CK_ULONG length) {
    return MechanismParameter(type, tru::Buffer(data, static_cast<uint32_t>(length)));
}

// Stub bodies of the encryption and decryption operations the cipher bases make pure.
#define STUB_CIPHER_OPERATIONS                                                                                      \
    void EncryptInit(MechanismSession&, const MechanismParameter&, zrck::TokSecretKey&) override {}                     \
    bool Encrypt(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) override { return true; }       \
    bool EncryptUpdate(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) override { return true; } \
    bool EncryptFinal(MechanismSession&, unsigned char*, unsigned long*) override { return true; }                      \
    void DecryptInit(MechanismSession&, const MechanismParameter&, zrck::TokSecretKey&) override {}                     \
    bool Decrypt(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) override { return true; }       \
    bool DecryptUpdate(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) override { return true; } \
    bool DecryptFinal(MechanismSession&, unsigned char*, unsigned long*) override { return true; }                      \
    void FreeResources() override {}

class FakeDES3Cbc : public zrck::TokDES3CbcMechanism {
public:
    STUB_CIPHER_OPERATIONS
    TokMechanism* Clone() const override { return new FakeDES3Cbc; }
    void SetIV(const tru::Buffer& iv) override { this->iv = ToBytes(iv); }
    Bytes iv;
};

class FakeGostCfb : public zrck::TokUAGostCfbMechanism {
public:
    STUB_CIPHER_OPERATIONS
    TokMechanism* Clone() const override { return new FakeGostCfb; }
    void SetDefaultParameter() override {}
    const tru::Buffer& GetIV() const override { return mIV; }
    void SetIV(const tru::Buffer& iv) override { mIV = iv; }

private:
    tru::BufferDynamic mIV;
};

class FakePbeKeyGen : public zrck::TokSha1PBE3DESEdeCbcKeyGenMechanism {
public:
    void FreeResources() override {}
    TokMechanism* Clone() const override { return new FakePbeKeyGen; }
    KeyPointer CreateSecretKey() override { return nullptr; }
    void SetParams(const CK_PBE_PARAMS* params) override { iterations = params->ulIteration; }
    CK_ULONG iterations = 0;
};

template <class Base>
class FakeDHDerive : public Base {
public:
    using Base::DeriveKey;
    zrck::TokMechanism::KeyPointer DeriveKey(MechanismSession&, MechanismParameter&, zrck::TokPrivateKey&,
                                             zrck::AttributeTemplate&) override {
        return nullptr;
    }
    zrck::TokMechanism::KeyPointer DeriveKey(MechanismSession&, MechanismParameter&, zrck::TokPublicKey&,
                                             zrck::AttributeTemplate&) override {
        return nullptr;
    }
    void FreeResources() override {}
    const tru::Buffer& GetSharedData() const override { return mShared; }
    void SetSharedData(const tru::Buffer& data) override { mShared = data; }
    const tru::Buffer& GetPublicData() const override { return mPublic; }
    void SetPublicData(const tru::Buffer& data) override { mPublic = data; }

private:
    tru::BufferDynamic mShared;
    tru::BufferDynamic mPublic;
};

class FakeDHPlain : public FakeDHDerive<zrck::TokUADHDeriveMechanism> {
public:
    KeyPointer CreateSecretKey() override { return nullptr; }
    TokMechanism* Clone() const override { return new FakeDHPlain; }
};

class FakeDHCofactor : public FakeDHDerive<zrck::TokUADHCofactorDeriveMechanism> {
public:
    KeyPointer CreateSecretKey(CK_KEY_TYPE) override { return nullptr; }
    TokMechanism* Clone() const override { return new FakeDHCofactor; }
};

class FakeGostWrap : public zrck::TokUAGostWrapMechanism {
public:
    bool WrapKey(MechanismSession&, const MechanismParameter&, zrck::TokKey*, zrck::TokKey&, unsigned char*,
                 unsigned long*) override {
        return true;
    }
    KeyPointer UnwrapKey(MechanismSession&, const MechanismParameter&, zrck::TokKey*, const tru::Buffer&,
                         zrck::AttributeTemplate&) override {
        return nullptr;
    }
    void FreeResources() override {}
    TokMechanism* Clone() const override { return new FakeGostWrap; }
    void SetDefaultParameter() override {}
};

class FakeSha256 : public zrck::TokSha256Mechanism {
public:
    void FreeResources() override {}
    TokMechanism* Clone() const override { return new FakeSha256; }
};

TEST(DES3Parameter, ExactlyAnEightByteIV) {
    const Bytes iv = {1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes longIv(16, 9);
    struct Case {
        const char* name;
        const void* data;
        CK_ULONG length;
        CK_RV rv;
    } cases[] = {
        {"8 bytes", iv.data(), 8, CKR_OK},
        {"16 bytes", longIv.data(), 16, CKR_MECHANISM_PARAM_INVALID},
        {"7 bytes", iv.data(), 7, CKR_MECHANISM_PARAM_INVALID},
        {"none", nullptr, 0, CKR_MECHANISM_PARAM_INVALID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDES3Cbc mechanism;
        EXPECT_EQ(CodeOf([&] { mechanism.SetParameter(Parameter(CKM_DES3_CBC, c.data, c.length)); }), c.rv);
        EXPECT_EQ(mechanism.iv, c.rv == CKR_OK ? iv : Bytes());
    }
}

TEST(PbeParameter, APlatformSizedStructure) {
    unsigned char password[] = "secret";
    unsigned char salt[] = "salt";
    unsigned char iv[8] = {};
    const CK_PBE_PARAMS params = {iv, password, 6, salt, 4, 2048};
    struct Case {
        const char* name;
        CK_ULONG length;
        CK_RV rv;
    } cases[] = {
        {"sizeof", sizeof(CK_PBE_PARAMS), CKR_OK},
        {"32-bit layout", 24, CKR_MECHANISM_PARAM_INVALID},
        {"20 bytes", 20, CKR_MECHANISM_PARAM_INVALID},
        {"none", 0, CKR_MECHANISM_PARAM_INVALID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePbeKeyGen mechanism;
        EXPECT_EQ(CodeOf([&] { mechanism.SetParameter(Parameter(CKM_PBE_SHA1_DES3_EDE_CBC, &params, c.length)); }),
                  c.rv);
        EXPECT_EQ(mechanism.iterations, c.rv == CKR_OK ? 2048u : 0u);
    }
}

TEST(KeyAgreementParameter, GostKdfStructureWithReadableData) {
    unsigned char shared[64] = {1};
    unsigned char point[33] = {4};
    const CK_ECDH1_DERIVE_PARAMS good = {CKD_GOST34311_KDF, sizeof shared, shared, sizeof point, point};
    const CK_ECDH1_DERIVE_PARAMS nullKdf = {CKD_NULL, sizeof shared, shared, sizeof point, point};
    const CK_ECDH1_DERIVE_PARAMS nullShared = {CKD_GOST34311_KDF, 64, nullptr, sizeof point, point};
    const CK_ECDH1_DERIVE_PARAMS nullPoint = {CKD_GOST34311_KDF, 0, nullptr, 65, nullptr};
    const CK_ECDH1_DERIVE_PARAMS noShared = {CKD_GOST34311_KDF, 0, nullptr, sizeof point, point};
    struct Case {
        const char* name;
        const CK_ECDH1_DERIVE_PARAMS* params;
        CK_ULONG length;
        CK_RV rv;
    } cases[] = {
        {"valid", &good, sizeof good, CKR_OK},
        {"no shared data", &noShared, sizeof noShared, CKR_OK},
        {"none", nullptr, 0, CKR_MECHANISM_PARAM_INVALID},
        {"32-bit layout", &good, 20, CKR_MECHANISM_PARAM_INVALID},
        {"one byte long", &good, sizeof good + 1, CKR_MECHANISM_PARAM_INVALID},
        {"other kdf", &nullKdf, sizeof nullKdf, CKR_MECHANISM_PARAM_INVALID},
        {"null shared data with a length", &nullShared, sizeof nullShared, CKR_MECHANISM_PARAM_INVALID},
        {"null point with a length", &nullPoint, sizeof nullPoint, CKR_MECHANISM_PARAM_INVALID},
    };
    Bytes longer(sizeof good + 1);
    std::memcpy(longer.data(), &good, sizeof good);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const void* data = c.length > sizeof good ? static_cast<const void*>(longer.data()) : c.params;
        FakeDHPlain plain;
        FakeDHCofactor cofactor;
        for (zrck::TokUADHDeriveMechanismBase* mechanism :
             {static_cast<zrck::TokUADHDeriveMechanismBase*>(&plain),
              static_cast<zrck::TokUADHDeriveMechanismBase*>(&cofactor)}) {
            EXPECT_EQ(CodeOf([&] { mechanism->SetParameter(Parameter(CKM_DSTUDH_DERIVE, data, c.length)); }), c.rv);
        }
        if (c.rv == CKR_OK) {
            EXPECT_EQ(plain.GetSharedData().Size(), c.params->ulSharedDataLen);
            EXPECT_EQ(ToBytes(plain.GetPublicData()), Bytes(point, point + sizeof point));
        }
    }
}

TEST(GostParameters, CipherIVIsOptionalWrapTakesNone) {
    const Bytes iv = {8, 7, 6, 5, 4, 3, 2, 1};
    const Bytes longIv(16, 1);
    struct Case {
        const char* name;
        const void* data;
        CK_ULONG length;
        CK_RV cfb;
        Bytes ivAfter;
        CK_RV wrap;
    } cases[] = {
        {"8 bytes", iv.data(), 8, CKR_OK, iv, CKR_MECHANISM_PARAM_INVALID},
        {"none: zero IV", nullptr, 0, CKR_OK, Bytes(8, 0), CKR_OK},
        {"16 bytes", longIv.data(), 16, CKR_MECHANISM_PARAM_INVALID, Bytes(), CKR_MECHANISM_PARAM_INVALID},
        {"pointer with length 0", iv.data(), 0, CKR_MECHANISM_PARAM_INVALID, Bytes(), CKR_MECHANISM_PARAM_INVALID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeGostCfb cfb;
        EXPECT_EQ(CodeOf([&] { cfb.SetParameter(Parameter(CKM_GOST28147_CFB, c.data, c.length)); }), c.cfb);
        EXPECT_EQ(ToBytes(cfb.GetIV()), c.ivAfter);
        FakeGostWrap wrap;
        EXPECT_EQ(CodeOf([&] { wrap.SetParameter(Parameter(CKM_GOST28147_WRAP, c.data, c.length)); }), c.wrap);
    }
}

TEST(MechanismKeyChecks, EachFamilyAcceptsOnlyItsKeyType) {
    FakeRsaPrivateKey rsa;
    FakeECDsaPrivateKey ec;
    FakeECDsaPublicKey ecPublic;
    FakeUASgnPrivateKey dstu;
    FakeUASgnPublicKey dstuPublic;
    FakeDES3SecretKey des3;
    FakeGostSecretKey gost;

    EXPECT_EQ(&zrck::TokECDsaUtl::VerifyKey(ec), &ec);
    EXPECT_EQ(&zrck::TokECDsaUtl::VerifyKey(ecPublic), &ecPublic);
    EXPECT_EQ(CodeOf([&] { zrck::TokECDsaUtl::VerifyKey(dstu); }), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(CodeOf([&] { zrck::TokECDsaUtl::VerifyKey(dstuPublic); }), CKR_KEY_TYPE_INCONSISTENT);

    EXPECT_EQ(&zrck::TokUASgnMechanism::VerifyKeyIsUASgn(dstu), &dstu);
    EXPECT_EQ(&zrck::TokUASgnHashMechanism::VerifyKeyIsUASgn(dstuPublic), &dstuPublic);
    EXPECT_EQ(CodeOf([&] { zrck::TokUASgnMechanism::VerifyKeyIsUASgn(rsa); }), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(CodeOf([&] { zrck::TokUASgnMechanism::VerifyKeyIsUASgn(ecPublic); }), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(&zrck::TokUADHCofactorDeriveMechanism::VerifyKeyIsUASgn(dstu), &dstu);
    EXPECT_EQ(CodeOf([&] { zrck::TokUADHDeriveMechanism::VerifyKeyIsUASgn(ec); }), CKR_KEY_TYPE_INCONSISTENT);

    EXPECT_EQ(&zrck::TokDES3CbcMechanism::VerifyKey(des3), &des3);
    EXPECT_EQ(&zrck::TokDES3CbcPadMechanism::VerifyKey(des3), &des3);
    EXPECT_EQ(CodeOf([&] { zrck::TokDES3CbcMechanism::VerifyKey(gost); }), CKR_KEY_TYPE_INCONSISTENT);

    EXPECT_EQ(&zrck::TokUAGostEcbMechanism::VerifyKey(gost), &gost);
    EXPECT_EQ(&zrck::TokUAGostCfbMechanism::VerifyKey(gost), &gost);
    EXPECT_EQ(CodeOf([&] { zrck::TokUAGostEcbMechanism::VerifyKey(des3); }), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(&zrck::TokUAGostWrapMechanism::VerifyKey(gost), &gost);
    EXPECT_EQ(CodeOf([&] { zrck::TokUAGostWrapMechanism::VerifyKey(rsa); }), CKR_KEY_TYPE_INCONSISTENT);
}

TEST(DigestBases, EmptyDataAllowedParameterRefused) {
    FakeSha256 digest;
    EXPECT_TRUE(digest.IsDigestNullDataAvailable());
    const unsigned char byte = 0;
    EXPECT_EQ(CodeOf([&] { digest.EnsureParameterEmpty(Parameter(CKM_SHA256, &byte, 0)); }),
              CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(CodeOf([&] { digest.EnsureParameterEmpty(Parameter(CKM_SHA256, nullptr, 0)); }), CKR_OK);
}

}  // namespace
