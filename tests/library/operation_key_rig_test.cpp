// Keys in use while another process changes the token: a running operation keeps its key object
// alive until it ends, and a key that left the token answers CKR_KEY_HANDLE_INVALID to the next
// call of the operation; a derivation or a wrap through a handle whose key another process
// replaced never reaches the replacement.
#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <thread>

#include "dstu_e2e_fixture.h"
#include "frozen_cache_clock.h"
#include "keygen_process.h"

using namespace dstue2e;
using librarytest::GenerateInAnotherProcess;
using librarytest::InAnotherProcess;

namespace {

constexpr CK_MECHANISM_TYPE kNoKeyPair = CK_UNAVAILABLE_INFORMATION;

struct KeyKind {
    const char* name;
    CK_MECHANISM_TYPE generation;
    CK_MECHANISM_TYPE singlePart;
    CK_MECHANISM_TYPE multiPart;
    Bytes params;  // empty: the DSTU 4145 curve m257, or none for RSA
};

const KeyKind kKeyKinds[] = {
    {"DSTU4145", CKM_DSTU4145_KEY_PAIR_GEN, CKM_DSTU4145, CKM_GOST34311_DSTU4145, {}},
    {"ECDSA_P256", CKM_EC_KEY_PAIR_GEN, CKM_ECDSA, CKM_ECDSA_SHA256,
     {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}},
    {"RSA1024", CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_RSA_PKCS, CKM_SHA256_RSA_PKCS, {}},
};

class OperationKey : public DstuE2eTest {
protected:
    CK_OBJECT_HANDLE Labelled(CK_OBJECT_CLASS objectClass, const std::string& label) {
        const std::vector<CK_OBJECT_HANDLE> found =
            Find({{CKA_CLASS, &objectClass, sizeof objectClass},
                  {CKA_LABEL, const_cast<char*>(label.data()), label.size()}});
        EXPECT_EQ(found.size(), 1u) << label;
        return found.empty() ? CK_INVALID_HANDLE : found[0];
    }

    // Returns once the wall clock shows a later second than when called: a key the other process
    // makes from now on carries another generation date than one made before.
    static void NextSecond() {
        const std::time_t start = std::time(nullptr);
        while (std::time(nullptr) == start) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
};

// The call made after another process's change, with the operation started before it.
enum class Call { LengthQuery, Sign, Update };
// What the other process does to the key pair in use.
enum class Change { Destroyed, Relabelled };

struct Round {
    const char* name;
    Change change;
    Call call;
};

const Round kRounds[] = {
    {"DestroyedLengthQuery", Change::Destroyed, Call::LengthQuery},
    {"DestroyedSign", Change::Destroyed, Call::Sign},
    {"DestroyedUpdate", Change::Destroyed, Call::Update},
    {"RelabelledLengthQuery", Change::Relabelled, Call::LengthQuery},
    {"RelabelledSign", Change::Relabelled, Call::Sign},
    {"RelabelledUpdate", Change::Relabelled, Call::Update},
};

class RunningOperation : public OperationKey, public ::testing::WithParamInterface<KeyKind> {};

// The other process acts between C_SignInit and the next call of the operation; this process
// reads another token object first, which takes in the other process's change.
TEST_P(RunningOperation, KeepsItsKeyAliveAndAnswersForAKeyThatLeft) {
    const KeyKind& kind = GetParam();
    const Bytes params = kind.generation == CKM_DSTU4145_KEY_PAIR_GEN ? CurveParams(kCurves[2]) : kind.params;
    ASSERT_TRUE(GenerateInAnotherProcess(kNoKeyPair, "other", Bytes{'v'}, false));
    Bytes data(32, 0x5A);
    for (const Round& round : kRounds) {
        SCOPED_TRACE(round.name);
        const std::string label = std::string("k-") + round.name;
        ASSERT_TRUE(GenerateInAnotherProcess(kind.generation, label, params, false));
        const CK_OBJECT_HANDLE key = Labelled(CKO_PRIVATE_KEY, label);
        const CK_OBJECT_HANDLE other = Labelled(CKO_DATA, "other");
        CK_MECHANISM mechanism{round.call == Call::Update ? kind.multiPart : kind.singlePart, nullptr, 0};
        ASSERT_EQ(p11->C_SignInit(session, &mechanism, key), CKR_OK);

        ASSERT_TRUE(InAnotherProcess(kNoKeyPair, label, {}, round.change == Change::Destroyed ? "replace" : "relabel"));
        // Reading a token object takes in the change (whether this untouched object keeps its
        // handle through it is the object cache's rule).
        CK_RV read = CKR_OK;
        Attribute(other, CKA_LABEL, &read);
        ASSERT_TRUE(read == CKR_OK || read == CKR_OBJECT_HANDLE_INVALID) << read;

        Bytes signature(512);
        CK_ULONG length = signature.size();
        CK_RV rv = CKR_OK;
        switch (round.call) {
            case Call::LengthQuery: rv = p11->C_Sign(session, data.data(), data.size(), nullptr, &length); break;
            case Call::Sign: rv = p11->C_Sign(session, data.data(), data.size(), signature.data(), &length); break;
            case Call::Update: rv = p11->C_SignUpdate(session, data.data(), data.size()); break;
        }
        if (round.change == Change::Destroyed) {
            EXPECT_EQ(rv, CKR_KEY_HANDLE_INVALID);
        } else {
            // The same key, relabelled by the other process: its handle and the operation go on.
            EXPECT_EQ(rv, CKR_OK);
        }
        // A signature made with a buffer ended the operation.
        if (rv != CKR_OK || round.call == Call::Sign) continue;
        // The operation still runs: its end answers alike and frees nothing twice.
        length = signature.size();
        rv = round.call == Call::Update ? p11->C_SignFinal(session, signature.data(), &length)
                                        : p11->C_Sign(session, data.data(), data.size(), signature.data(), &length);
        EXPECT_TRUE(rv == CKR_OK || rv == CKR_KEY_HANDLE_INVALID) << rv;
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, RunningOperation, ::testing::ValuesIn(kKeyKinds),
                         [](const ::testing::TestParamInfo<KeyKind>& info) { return std::string(info.param.name); });

// C_DeriveKey through the handle of a DSTU 4145 private key that another process destroyed and
// made again (in a later second, so the token's files tell the two apart) in its key slot.
TEST_F(OperationKey, DerivesNeverWithTheKeyThatTookTheBaseKeysPlace) {
    const Bytes params = CurveParams(kCurves[2]);
    const KeyPair base = Generate(params, "base", true);
    const KeyPair peer = Generate(params, "peer", true);
    Bytes peerPoint = Attribute(peer.publicKey, CKA_EC_POINT);
    CK_ECDH1_DERIVE_PARAMS parameter{CKD_GOST34311_KDF, 0, nullptr, peerPoint.size(), peerPoint.data()};
    CK_MECHANISM mechanism{CKM_DSTUDH_COFACTOR_DERIVE, &parameter, sizeof parameter};
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE gost = CKK_GOST28147_NAT;
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                 {CKA_KEY_TYPE, &gost, sizeof gost},
                                 {CKA_TOKEN, &no, sizeof no}};
    CK_OBJECT_HANDLE derived = CK_INVALID_HANDLE;
    ASSERT_EQ(p11->C_DeriveKey(session, &mechanism, base.privateKey, attributes, 3, &derived), CKR_OK);

    NextSecond();
    ASSERT_TRUE(GenerateInAnotherProcess(CKM_DSTU4145_KEY_PAIR_GEN, "base", params, true));
    derived = CK_INVALID_HANDLE;
    EXPECT_EQ(p11->C_DeriveKey(session, &mechanism, base.privateKey, attributes, 3, &derived), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(derived, CK_INVALID_HANDLE);
}

// C_WrapKey and C_UnwrapKey through the handle of a GOST 28147-89 key-encryption key that
// another process destroyed and generated again (in a later second) in its files.
TEST_F(OperationKey, WrapsNeverWithTheKeyThatTookTheWrappingKeysPlace) {
    CK_MECHANISM keyGen{CKM_GOST28147_KEY_GEN_NAT, nullptr, 0};
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE sessionKey[] = {{CKA_TOKEN, &no, sizeof no}, {CKA_EXTRACTABLE, &yes, sizeof yes}};
    CK_OBJECT_HANDLE wrapped = CK_INVALID_HANDLE;
    ASSERT_EQ(p11->C_GenerateKey(session, &keyGen, sessionKey, 2, &wrapped), CKR_OK);
    CK_MECHANISM wrap{CKM_GOST28147_WRAP, nullptr, 0};
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE gost = CKK_GOST28147_NAT;
    CK_ATTRIBUTE unwrapTemplate[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                     {CKA_KEY_TYPE, &gost, sizeof gost},
                                     {CKA_TOKEN, &no, sizeof no}};

    for (const bool unwrapping : {false, true}) {
        SCOPED_TRACE(unwrapping ? "unwrap" : "wrap");
        const std::string label = unwrapping ? "kek-unwrap" : "kek-wrap";
        ASSERT_TRUE(GenerateInAnotherProcess(CKM_GOST28147_KEY_GEN_NAT, label, {}, false));
        const CK_OBJECT_HANDLE kek = Labelled(CKO_SECRET_KEY, label);
        Bytes blob(64);
        CK_ULONG length = blob.size();
        if (unwrapping) {
            ASSERT_EQ(p11->C_WrapKey(session, &wrap, kek, wrapped, blob.data(), &length), CKR_OK);
            blob.resize(length);
        }
        NextSecond();
        ASSERT_TRUE(GenerateInAnotherProcess(CKM_GOST28147_KEY_GEN_NAT, label, {}, true));
        if (unwrapping) {
            CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
            EXPECT_EQ(p11->C_UnwrapKey(session, &wrap, kek, blob.data(), blob.size(), unwrapTemplate, 3, &key),
                      CKR_UNWRAPPING_KEY_HANDLE_INVALID);
        } else {
            length = blob.size();
            EXPECT_EQ(p11->C_WrapKey(session, &wrap, kek, wrapped, blob.data(), &length),
                      CKR_WRAPPING_KEY_HANDLE_INVALID);
        }
    }
}

// Token commands of each call that uses a key kept on the token, nobody else changing anything:
// the key check reads the revision once, in the call's own transaction, where the call gives a
// result computed with the key or sends a command that uses it; feeding a part or asking a length
// sends nothing.
class KeyUseCost : public OperationKey {
protected:
    librarytest::FrozenCacheClock clock_;  // before C_Initialize
};

TEST_F(KeyUseCost, EachUseChecksTheKeyOnceInItsOwnTransaction) {
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    const Bytes params = CurveParams(kCurves[2]);
    const KeyPair pair = Generate(params, "pair", true);
    const KeyPair peer = Generate(params, "peer", true);
    Bytes peerPoint = Attribute(peer.publicKey, CKA_EC_POINT);
    CK_MECHANISM keyGen{CKM_GOST28147_KEY_GEN_NAT, nullptr, 0};
    CK_ATTRIBUTE tokenKeyTemplate[] = {{CKA_TOKEN, &yes, sizeof yes},   {CKA_WRAP, &yes, sizeof yes},
                                       {CKA_UNWRAP, &yes, sizeof yes},  {CKA_ENCRYPT, &yes, sizeof yes},
                                       {CKA_EXTRACTABLE, &yes, sizeof yes}};
    CK_OBJECT_HANDLE tokenKey = CK_INVALID_HANDLE;
    ASSERT_EQ(p11->C_GenerateKey(session, &keyGen, tokenKeyTemplate, 5, &tokenKey), CKR_OK);
    CK_ATTRIBUTE sessionKeyTemplate[] = {{CKA_TOKEN, &no, sizeof no}, {CKA_EXTRACTABLE, &yes, sizeof yes}};
    CK_OBJECT_HANDLE sessionKey = CK_INVALID_HANDLE;
    ASSERT_EQ(p11->C_GenerateKey(session, &keyGen, sessionKeyTemplate, 2, &sessionKey), CKR_OK);

    CK_MECHANISM hashSign{CKM_GOST34311_DSTU4145, nullptr, 0};
    CK_MECHANISM ecb{CKM_GOST28147_ECB_NAT, nullptr, 0};
    CK_MECHANISM wrap{CKM_GOST28147_WRAP, nullptr, 0};
    CK_MECHANISM digest{CKM_GOST34311, nullptr, 0};
    CK_ECDH1_DERIVE_PARAMS agreement{CKD_GOST34311_KDF, 0, nullptr, peerPoint.size(), peerPoint.data()};
    CK_MECHANISM derive{CKM_DSTUDH_COFACTOR_DERIVE, &agreement, sizeof agreement};
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE gost = CKK_GOST28147_NAT;
    CK_ATTRIBUTE sessionSecret[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                    {CKA_KEY_TYPE, &gost, sizeof gost},
                                    {CKA_TOKEN, &no, sizeof no}};
    Bytes data(64, 0x42);
    Bytes out(256);
    CK_ULONG length = 0;
    Bytes blob(44);
    CK_ULONG blobLength = blob.size();
    ASSERT_EQ(p11->C_WrapKey(session, &wrap, tokenKey, sessionKey, blob.data(), &blobLength), CKR_OK);

    struct Use {
        const char* name;
        std::function<void()> before;  // not counted
        std::function<CK_RV()> call;
        uint64_t commands;
    };
    const Use uses[] = {
        {"SignUpdate", [&] { ASSERT_EQ(p11->C_SignInit(session, &hashSign, pair.privateKey), CKR_OK); },
         [&] { return p11->C_SignUpdate(session, data.data(), data.size()); }, 0},
        {"SignFinalLength", nullptr, [&] { return p11->C_SignFinal(session, nullptr, &length); }, 0},
        {"SignFinal", nullptr,
         [&] {
             length = out.size();
             return p11->C_SignFinal(session, out.data(), &length);
         },
         2},
        {"EncryptUpdate", [&] { ASSERT_EQ(p11->C_EncryptInit(session, &ecb, tokenKey), CKR_OK); },
         [&] {
             length = out.size();
             return p11->C_EncryptUpdate(session, data.data(), data.size(), out.data(), &length);
         },
         1},
        {"EncryptFinal", nullptr,
         [&] {
             length = out.size();
             return p11->C_EncryptFinal(session, out.data(), &length);
         },
         1},
        {"DigestKey", [&] { ASSERT_EQ(p11->C_DigestInit(session, &digest), CKR_OK); },
         [&] { return p11->C_DigestKey(session, tokenKey); }, 1},
        {"DigestFinal", nullptr,
         [&] {
             length = out.size();
             return p11->C_DigestFinal(session, out.data(), &length);
         },
         0},
        {"DeriveKey", nullptr,
         [&] {
             CK_OBJECT_HANDLE made = CK_INVALID_HANDLE;
             return p11->C_DeriveKey(session, &derive, pair.privateKey, sessionSecret, 3, &made);
         },
         2},
        {"WrapKeyLength", nullptr,
         [&] { return p11->C_WrapKey(session, &wrap, tokenKey, sessionKey, nullptr, &length); }, 0},
        {"WrapKey", nullptr,
         [&] {
             length = out.size();
             return p11->C_WrapKey(session, &wrap, tokenKey, sessionKey, out.data(), &length);
         },
         1},
        {"UnwrapKey", nullptr,
         [&] {
             CK_OBJECT_HANDLE made = CK_INVALID_HANDLE;
             return p11->C_UnwrapKey(session, &wrap, tokenKey, blob.data(), blobLength, sessionSecret, 3, &made);
         },
         1},
    };
    std::map<std::string, uint64_t> counted;
    std::map<std::string, uint64_t> expected;
    for (const Use& use : uses) {
        if (use.before) use.before();
        rig->Control(0).ResetCounters();
        EXPECT_EQ(use.call(), CKR_OK) << use.name;
        counted[use.name] = rig->Control(0).Counters()["total"];
        expected[use.name] = use.commands;
    }
    EXPECT_EQ(counted, expected);
}

}  // namespace
