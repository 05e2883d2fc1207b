// The main road through the Cryptoki functions: find a DSTU 4145 private key, sign a document
// with GOST 34.311 hashing on the host, verify it with the public key.
#include "dstu_rig_fixture.h"
#include "dstu_test_util.h"
#include "frozen_cache_clock.h"

#include "national/ua_sgn_util.h"

#include <cstring>
#include <string>

using namespace dstutest;

namespace {

struct RoadCase {
    const char* name;
    const tru::Buffer* block;
    CK_ULONG signatureSize;
};

const RoadCase kRoadCases[] = {
    {"m163", &qel::UA_SGN_PARAMSET_0_OID_DKE1_VALUE, 42},
    {"m191", &qel::UA_SGN_PARAMSET_4_OID_DKE1_VALUE, 48},
    {"m257", &qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE, 64},
    {"m431", &qel::UA_SGN_PARAMSET_9_OID_DKE1_VALUE, 108},
};

class MainRoadTest : public DstuRigTest, public ::testing::WithParamInterface<RoadCase> {
protected:
    librarytest::FrozenCacheClock clock_;  // the signature's command count

    void SetUp() override
    {
        DstuRigTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        const CK_RV probe = C_FindObjectsInit(session, nullptr, 0);
        ASSERT_EQ(probe, CKR_OK);
        ASSERT_EQ(C_FindObjectsFinal(session), CKR_OK);
    }

    CK_OBJECT_HANDLE FindByLabel(CK_OBJECT_CLASS objectClass, const std::string& label)
    {
        CK_KEY_TYPE keyType = CKK_DSTU4145;
        CK_ATTRIBUTE search[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                 {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                 {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        EXPECT_EQ(C_FindObjectsInit(session, search, 3), CKR_OK);
        CK_OBJECT_HANDLE found[2] = {};
        CK_ULONG count = 0;
        EXPECT_EQ(C_FindObjects(session, found, 2, &count), CKR_OK);
        EXPECT_EQ(C_FindObjectsFinal(session), CKR_OK);
        EXPECT_EQ(count, 1u);
        return found[0];
    }
};

} // namespace

TEST_P(MainRoadTest, SignsAndVerifiesADocumentWithAKeyFoundOnTheToken)
{
    const RoadCase& road = GetParam();
    Bytes params = Of(*road.block);
    const std::string label = std::string("road-") + road.name;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_EC_PARAMS, params.data(), params.size()},
                                     {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                      {CKA_TOKEN, &yes, sizeof yes},
                                      {CKA_PRIVATE, &yes, sizeof yes}};
    CK_MECHANISM generation{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE generatedPublic = 0, generatedPrivate = 0;
    ASSERT_EQ(C_GenerateKeyPair(session, &generation, publicTemplate, 2, privateTemplate, 3, &generatedPublic,
                                &generatedPrivate),
              CKR_OK);

    const CK_OBJECT_HANDLE privateKey = FindByLabel(CKO_PRIVATE_KEY, label);
    const CK_OBJECT_HANDLE publicKey = FindByLabel(CKO_PUBLIC_KEY, label);
    CK_ATTRIBUTE value{CKA_VALUE, nullptr, 0};
    EXPECT_EQ(C_GetAttributeValue(session, privateKey, &value, 1), CKR_ATTRIBUTE_SENSITIVE);

    Bytes document = {'d', 'o', 'c', 'u', 'm', 'e', 'n', 't'};
    CK_MECHANISM hashed{CKM_GOST34311_DSTU4145, nullptr, 0};
    ASSERT_EQ(C_SignInit(session, &hashed, privateKey), CKR_OK);
    CK_ULONG length = 0;
    ASSERT_EQ(C_Sign(session, document.data(), document.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, road.signatureSize);
    Bytes signature(length);
    const uint64_t commandsBefore = TotalCommands();
    ASSERT_EQ(C_Sign(session, document.data(), document.size(), signature.data(), &length), CKR_OK);
    EXPECT_EQ(TotalCommands(), commandsBefore + 2);  // the revision read and the signature command

    ASSERT_EQ(C_VerifyInit(session, &hashed, publicKey), CKR_OK);
    EXPECT_EQ(C_Verify(session, document.data(), document.size(), signature.data(), signature.size()), CKR_OK);
    signature[0] ^= 1;
    ASSERT_EQ(C_VerifyInit(session, &hashed, publicKey), CKR_OK);
    EXPECT_EQ(C_Verify(session, document.data(), document.size(), signature.data(), signature.size()),
              CKR_SIGNATURE_INVALID);
}

INSTANTIATE_TEST_SUITE_P(Curves, MainRoadTest, ::testing::ValuesIn(kRoadCases),
                         [](const ::testing::TestParamInfo<RoadCase>& info) { return std::string(info.param.name); });
