// Commands of C_GenerateKeyPair and of the first listing without a login, counted exactly, and
// the answers the token refused on the way: a path that succeeds asks nothing the token has to
// refuse, and each command costs 1 to 100 ms on a real token.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "module_rig_fixture.h"
#include "token_road.h"

namespace {

using Bytes = std::vector<CK_BYTE>;
using Tally = std::map<std::string, uint64_t>;

const Bytes kP256 = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
constexpr char kDstuM257[] = "1.2.804.2.1.1.1.1.3.1.1.2.6";  // label of the token's domain parameters
constexpr CK_ULONG kRsaBits = 2048;

class CountedToken : public librarytest::ModuleRigTest {
protected:
    void SetUp() override
    {
        Start();
        if (IsSkipped() || HasFatalFailure()) return;
        session = Open();
    }

    void LogIn() { ASSERT_EQ(Login(session, CKU_USER, librarytest::kUserPin), CKR_OK); }

    std::vector<CK_OBJECT_HANDLE> Find(std::vector<CK_ATTRIBUTE> search)
    {
        std::vector<CK_OBJECT_HANDLE> found(64);
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjectsInit(session, search.data(), search.size()), CKR_OK);
        EXPECT_EQ(p11->C_FindObjects(session, found.data(), found.size(), &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        found.resize(count);
        return found;
    }

    // Commands and refused answers since the last look.
    void Take(uint64_t& total, Tally& refused)
    {
        total = rig->Control(0).Counters()["total"];
        refused = rig->Control(0).Refusals();
        rig->Control(0).ResetCounters();
    }

    librarytest::FrozenCacheClock clock;  // before C_Initialize
    CK_SESSION_HANDLE session = 0;
};

// ---- key-pair generation ----

enum class Pair { P256, DstuM257, Rsa2048 };

struct PairRow {
    const char* name;
    Pair pair;
    uint64_t firstPair;  // on a blank token: no index file, no revision file yet
    uint64_t nextPair;   // beside an existing pair
};

void PrintTo(const PairRow& row, std::ostream* out) { *out << row.name; }

class KeyPairCommands : public CountedToken, public ::testing::WithParamInterface<PairRow> {
protected:
    CK_RV Generate(const std::string& label)
    {
        CK_BBOOL yes = CK_TRUE;
        std::vector<CK_ATTRIBUTE> publicTemplate = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                                    {CKA_TOKEN, &yes, sizeof yes}};
        std::vector<CK_ATTRIBUTE> privateTemplate = publicTemplate;
        CK_MECHANISM mechanism{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
        CK_ULONG bits = kRsaBits;
        switch (GetParam().pair) {
        case Pair::P256:
            publicTemplate.push_back({CKA_EC_PARAMS, const_cast<CK_BYTE*>(kP256.data()), kP256.size()});
            break;
        case Pair::DstuM257:
            mechanism.mechanism = CKM_DSTU4145_KEY_PAIR_GEN;
            publicTemplate.push_back({CKA_EC_PARAMS, dstuParams.data(), dstuParams.size()});
            break;
        case Pair::Rsa2048:
            mechanism.mechanism = CKM_RSA_PKCS_KEY_PAIR_GEN;
            publicTemplate.push_back({CKA_MODULUS_BITS, &bits, sizeof bits});
            break;
        }
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        return p11->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), publicTemplate.size(),
                                      privateTemplate.data(), privateTemplate.size(), &publicKey, &privateKey);
    }

    // CKA_EC_PARAMS of the token's own domain-parameter object of the curve.
    void ReadDstuParams()
    {
        CK_OBJECT_CLASS domain = CKO_DOMAIN_PARAMETERS;
        const std::vector<CK_OBJECT_HANDLE> found =
            Find({{CKA_CLASS, &domain, sizeof domain}, {CKA_LABEL, const_cast<char*>(kDstuM257), std::strlen(kDstuM257)}});
        ASSERT_EQ(found.size(), 1u);
        CK_ATTRIBUTE value{CKA_EC_PARAMS, nullptr, 0};
        ASSERT_EQ(p11->C_GetAttributeValue(session, found[0], &value, 1), CKR_OK);
        dstuParams.resize(value.ulValueLen);
        value.pValue = dstuParams.data();
        ASSERT_EQ(p11->C_GetAttributeValue(session, found[0], &value, 1), CKR_OK);
    }

    Bytes dstuParams;
};

TEST_P(KeyPairCommands, SendOnlyWhatTheGenerationNeeds)
{
    if (IsSkipped() || HasFatalFailure()) return;
    LogIn();
    ReadDstuParams();  // every row, so that all start from the same state
    if (HasFatalFailure()) return;
    const PairRow& row = GetParam();
    uint64_t total = 0;
    Tally refused;
    Take(total, refused);

    // Index reads (2 per index file present), GenerateKey, per new file one CreateFile and its
    // writes, the record and the header that shows it per index, the revision read and written.
    ASSERT_EQ(Generate("first"), CKR_OK);
    Take(total, refused);
    EXPECT_EQ(total, row.firstPair);
    // Reads of files that do not exist yet: the two index files and the revision.
    EXPECT_EQ(refused, (Tally{{"total", 3}, {"GetFileSize", 2}, {"ReadFile", 1}}));

    ASSERT_EQ(Generate("next"), CKR_OK);
    Take(total, refused);
    EXPECT_EQ(total, row.nextPair);
    EXPECT_EQ(refused, (Tally{{"total", 0}}));

    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    EXPECT_EQ(Find({{CKA_CLASS, &privateClass, sizeof privateClass}}).size(), 2u);
}

// RSA-2048 writes its private attribute file and its modulus in two commands each.
INSTANTIATE_TEST_SUITE_P(Pairs, KeyPairCommands,
                         ::testing::Values(PairRow{"P256", Pair::P256, 16, 17},
                                           PairRow{"DstuM257", Pair::DstuM257, 16, 17},
                                           PairRow{"Rsa2048", Pair::Rsa2048, 18, 19}),
                         [](const ::testing::TestParamInfo<PairRow>& info) { return std::string(info.param.name); });

// ---- listing ----

TEST_F(CountedToken, FirstListingWithoutLoginOpensOneDeviceSession)
{
    if (IsSkipped() || HasFatalFailure()) return;
    LogIn();
    road::CreateDataObject(p11, session, "public", "value");
    ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    initialized = false;
    ASSERT_EQ(Initialize(nullptr), CKR_OK);  // as a new process
    session = Open();
    uint64_t total = 0;
    Tally refused;
    Take(total, refused);

    EXPECT_EQ(road::FindDataObjects(p11, session).size(), 1u);
    Take(total, refused);
    // OpenSession, the revision, the public index (2), the object's attribute file (2).
    EXPECT_EQ(total, 6u);
    EXPECT_EQ(refused, (Tally{{"total", 0}}));
    EXPECT_EQ(rig->Control(0).SessionCount(), 1u);
}

}  // namespace
