// C_CopyObject of each class kept in token files into a token object: the copy gets files of its
// own, the source keeps its files, label and CKA_ID, and destroying either leaves the other,
// as a fresh process sees the token.
#include "dstu_e2e_fixture.h"
#include "keygen_process.h"

using namespace dstue2e;
using librarytest::FreshProcessFinds;

namespace {

const Bytes kSourceId = {'i', 'd', '1'};
const Bytes kCopyId = {'i', 'd', '2'};
const Bytes kP256 = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

enum class Source { Data, Certificate, RsaPublic, EcPublic, DstuPublic, GostSecret };

struct CopyCase {
    const char* name;
    Source source;
    CK_OBJECT_CLASS objectClass;
    CK_ATTRIBUTE_TYPE value;  // read back from both objects; 0: none readable
};

const CopyCase kCopyCases[] = {
    {"DataObject", Source::Data, CKO_DATA, CKA_VALUE},
    {"Certificate", Source::Certificate, CKO_CERTIFICATE, CKA_VALUE},
    {"RsaPublicKey", Source::RsaPublic, CKO_PUBLIC_KEY, CKA_MODULUS},
    {"EcPublicKey", Source::EcPublic, CKO_PUBLIC_KEY, CKA_EC_POINT},
    {"DstuPublicKey", Source::DstuPublic, CKO_PUBLIC_KEY, CKA_EC_POINT},
    {"GostSecretKey", Source::GostSecret, CKO_SECRET_KEY, 0},
};

class TokenCopyRig : public DstuE2eTest, public ::testing::WithParamInterface<CopyCase> {
protected:
    std::string source_ = "src";
    std::string copy_ = "copy";

    bool HasId() const { return GetParam().source != Source::Data; }
    bool IsPair() const {
        const Source source = GetParam().source;
        return source == Source::RsaPublic || source == Source::EcPublic || source == Source::DstuPublic;
    }
    // Objects labelled "src" with the source's CKA_ID: the private key of a pair carries them too.
    unsigned SourceObjects() const { return IsPair() ? 2 : 1; }

    CK_ATTRIBUTE Label(std::string& label) { return {CKA_LABEL, &label[0], label.size()}; }
    static CK_ATTRIBUTE Id(const Bytes& id) { return {CKA_ID, const_cast<uint8_t*>(id.data()), id.size()}; }

    CK_OBJECT_HANDLE MakeSource() {
        static CK_BBOOL yes = CK_TRUE;
        static CK_OBJECT_CLASS dataClass = CKO_DATA, certificateClass = CKO_CERTIFICATE, secretClass = CKO_SECRET_KEY;
        static CK_CERTIFICATE_TYPE x509 = CKC_X_509;
        static CK_KEY_TYPE gost = CKK_GOST28147_NAT;
        static std::string value = "the source's value", subject = "subject";
        static Bytes key(32, 0x5C);
        static CK_ULONG bits = 1024;
        switch (GetParam().source) {
            case Source::Data:
                return Create({{CKA_CLASS, &dataClass, sizeof dataClass},
                               {CKA_TOKEN, &yes, sizeof yes},
                               Label(source_),
                               {CKA_VALUE, &value[0], value.size()}});
            case Source::Certificate:
                return Create({{CKA_CLASS, &certificateClass, sizeof certificateClass},
                               {CKA_TOKEN, &yes, sizeof yes},
                               {CKA_CERTIFICATE_TYPE, &x509, sizeof x509},
                               {CKA_SUBJECT, &subject[0], subject.size()},
                               Label(source_),
                               Id(kSourceId),
                               {CKA_VALUE, &value[0], value.size()}});
            case Source::GostSecret:
                return Create({{CKA_CLASS, &secretClass, sizeof secretClass},
                               {CKA_KEY_TYPE, &gost, sizeof gost},
                               {CKA_TOKEN, &yes, sizeof yes},
                               {CKA_ENCRYPT, &yes, sizeof yes},
                               Label(source_),
                               Id(kSourceId),
                               {CKA_VALUE, key.data(), key.size()}});
            case Source::RsaPublic: return GeneratePair(CKM_RSA_PKCS_KEY_PAIR_GEN, {{CKA_MODULUS_BITS, &bits, sizeof bits}});
            case Source::EcPublic: return GeneratePair(CKM_EC_KEY_PAIR_GEN, {Param(kP256)});
            case Source::DstuPublic: {
                static Bytes params;
                params = CurveParams(kCurves[2]);
                return GeneratePair(CKM_DSTU4145_KEY_PAIR_GEN, {Param(params)});
            }
        }
        return CK_INVALID_HANDLE;
    }

    static CK_ATTRIBUTE Param(const Bytes& params) {
        return {CKA_EC_PARAMS, const_cast<uint8_t*>(params.data()), params.size()};
    }

    // The public key of a token pair labelled "src" with the source's CKA_ID on both keys.
    CK_OBJECT_HANDLE GeneratePair(CK_MECHANISM_TYPE type, std::vector<CK_ATTRIBUTE> publicTemplate) {
        static CK_BBOOL yes = CK_TRUE;
        publicTemplate.push_back({CKA_TOKEN, &yes, sizeof yes});
        publicTemplate.push_back(Label(source_));
        publicTemplate.push_back(Id(kSourceId));
        CK_ATTRIBUTE privateTemplate[] = {{CKA_TOKEN, &yes, sizeof yes}, Label(source_), Id(kSourceId)};
        CK_MECHANISM mechanism{type, nullptr, 0};
        CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE, privateKey = CK_INVALID_HANDLE;
        EXPECT_EQ(p11->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), publicTemplate.size(),
                                         privateTemplate, 3, &publicKey, &privateKey),
                  CKR_OK);
        return publicKey;
    }

    CK_RV CopyToToken(CK_OBJECT_HANDLE source, CK_OBJECT_HANDLE* copy) {
        CK_BBOOL yes = CK_TRUE;
        std::vector<CK_ATTRIBUTE> attributes = {{CKA_TOKEN, &yes, sizeof yes}, Label(copy_)};
        if (HasId()) attributes.push_back(Id(kCopyId));
        return p11->C_CopyObject(session, source, attributes.data(), attributes.size(), copy);
    }

    ::testing::AssertionResult FreshProcessSees(unsigned sources, unsigned copies) {
        ::testing::AssertionResult seen = FreshProcessFinds(source_, sources, HasId() ? kSourceId : Bytes());
        if (!seen) return seen;
        return FreshProcessFinds(copy_, copies, HasId() ? kCopyId : Bytes());
    }

    CK_OBJECT_HANDLE Labelled(std::string& label) {
        CK_OBJECT_CLASS objectClass = GetParam().objectClass;
        const std::vector<CK_OBJECT_HANDLE> found = Find({{CKA_CLASS, &objectClass, sizeof objectClass}, Label(label)});
        EXPECT_EQ(found.size(), 1u) << label;
        return found.empty() ? CK_INVALID_HANDLE : found[0];
    }
};

TEST_P(TokenCopyRig, TokenCopyGetsFilesOfItsOwn) {
    const CK_OBJECT_HANDLE source = MakeSource();
    ASSERT_NE(source, CK_INVALID_HANDLE);
    CK_OBJECT_HANDLE copy = CK_INVALID_HANDLE;
    ASSERT_EQ(CopyToToken(source, &copy), CKR_OK);
    EXPECT_TRUE(FreshProcessSees(SourceObjects(), 1)) << "the source keeps its label and CKA_ID";
    if (GetParam().value != 0) {
        // Read from the token again, not from this process's memory.
        ASSERT_NO_FATAL_FAILURE(Reload());
        const Bytes original = Attribute(Labelled(source_), GetParam().value);
        EXPECT_FALSE(original.empty());
        EXPECT_EQ(Attribute(Labelled(copy_), GetParam().value), original);
        copy = Labelled(copy_);
    }

    ASSERT_EQ(p11->C_DestroyObject(session, copy), CKR_OK);
    EXPECT_TRUE(FreshProcessSees(SourceObjects(), 0)) << "destroying the copy leaves the source";

    ASSERT_EQ(CopyToToken(Labelled(source_), &copy), CKR_OK);
    ASSERT_EQ(p11->C_DestroyObject(session, Labelled(source_)), CKR_OK);
    EXPECT_TRUE(FreshProcessSees(SourceObjects() - 1, 1)) << "destroying the source leaves the copy";
}

INSTANTIATE_TEST_SUITE_P(StoredClasses, TokenCopyRig, ::testing::ValuesIn(kCopyCases),
                         [](const ::testing::TestParamInfo<CopyCase>& info) { return std::string(info.param.name); });

}  // namespace
