#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "null_session.h"
#include "support/math.h"
#include "swcrypto/token_sha_mechanisms.h"
#include "swcrypto_test_util.h"

namespace {

using swtest::CodeOf;
using swtest::Hex;
using swtest::Text;

struct Member {
    CK_MECHANISM_TYPE type;
    unsigned long length;
    const char* abc;  // FIPS 180-2 digest of "abc"
    zrck::TokMechanism* (*make)();
};

template <class Mechanism>
zrck::TokMechanism* Make()
{
    return new Mechanism();
}

const Member kMembers[] = {
    {CKM_SHA_1, 20, "A9993E364706816ABA3E25717850C26C9CD0D89D", &Make<qel::TokSha1Mechanism>},
    {CKM_SHA224, 28, "23097D223405D8228642A477BDA255B32AADBCE4BDA0B3F7E36C9DA7", &Make<qel::TokSha224Mechanism>},
    {CKM_SHA256, 32, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
     &Make<qel::TokSha256Mechanism>},
    {CKM_SHA384, 48,
     "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7",
     &Make<qel::TokSha384Mechanism>},
    {CKM_SHA512, 64,
     "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23A3FEEBBD454D4423"
     "643CE80E2A9AC94FA54CA49F",
     &Make<qel::TokSha512Mechanism>},
};

class ShaMechanisms : public ::testing::Test {
protected:
    std::unique_ptr<zrck::TokMechanism> Init(const Member& m)
    {
        std::unique_ptr<zrck::TokMechanism> mechanism(m.make());
        mechanism->DigestInit(session, zrck::MechanismParameter(m.type, tru::Buffer()));
        return mechanism;
    }

    std::string Final(zrck::TokMechanism& mechanism, unsigned long length)
    {
        std::vector<unsigned char> out(length);
        unsigned long outLen = length;
        EXPECT_TRUE(mechanism.DigestFinal(session, out.data(), &outLen));
        EXPECT_EQ(outLen, length);
        mechanism.FreeResources();
        return Hex(out.data(), outLen);
    }

    swtest::NullSession session;
};

TEST_F(ShaMechanisms, RegistrationValues)
{
    for (const Member& m : kMembers) {
        std::unique_ptr<zrck::TokMechanism> mechanism(m.make());
        CK_MECHANISM_INFO info{};
        mechanism->FillMechanismInfo(&info);
        EXPECT_EQ(mechanism->GetMechanismType(), m.type);
        EXPECT_EQ(info.flags, CKF_DIGEST);
        EXPECT_EQ(info.ulMinKeySize, 0u);
        EXPECT_EQ(info.ulMaxKeySize, 0u);
    }
}

TEST_F(ShaMechanisms, OnePartMultiPartAndLengthQueries)
{
    for (const Member& m : kMembers) {
        auto mechanism = Init(m);
        unsigned long length = 0;
        // Length queries and a short buffer leave the digest running.
        EXPECT_TRUE(mechanism->Digest(session, Text("ignored"), nullptr, &length));
        EXPECT_EQ(length, m.length);
        std::vector<unsigned char> shortOut(m.length - 1);
        length = shortOut.size();
        EXPECT_FALSE(mechanism->Digest(session, Text("abc"), shortOut.data(), &length));
        EXPECT_EQ(length, m.length);
        std::vector<unsigned char> out(m.length);
        length = out.size();
        EXPECT_TRUE(mechanism->Digest(session, Text("abc"), out.data(), &length));
        EXPECT_EQ(Hex(out.data(), length), m.abc) << m.type;
        mechanism->FreeResources();

        // The same object serves the next operation, in three parts.
        mechanism->DigestInit(session, zrck::MechanismParameter(m.type, tru::Buffer()));
        for (const char* part : {"a", "", "bc"}) mechanism->DigestUpdate(session, Text(part));
        length = 0;
        EXPECT_TRUE(mechanism->DigestFinal(session, nullptr, &length));
        EXPECT_EQ(Final(*mechanism, m.length), m.abc) << m.type;
    }
}

TEST_F(ShaMechanisms, RefusedCalls)
{
    const Member& sha1 = kMembers[0];
    std::unique_ptr<zrck::TokMechanism> mechanism(sha1.make());
    const char parameter[] = "x";
    EXPECT_EQ(CodeOf([&] {
                  mechanism->DigestInit(session, zrck::MechanismParameter(CKM_SHA_1, tru::Buffer(parameter, 1)));
              }),
              CKR_MECHANISM_PARAM_INVALID);
    unsigned char out[20];
    unsigned long length = sizeof out;
    EXPECT_EQ(CodeOf([&] { mechanism->DigestUpdate(session, Text("abc")); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(CodeOf([&] { mechanism->DigestFinal(session, out, &length); }), CKR_GENERAL_ERROR);
    tru::BufferDynamic state;
    EXPECT_EQ(CodeOf([&] { mechanism->GetMechanismSessionState(state); }), CKR_GENERAL_ERROR);

    // A clone of a running digest starts empty.
    auto running = Init(sha1);
    running->DigestUpdate(session, Text("abc"));
    std::unique_ptr<zrck::TokMechanism> clone(running->Clone());
    EXPECT_EQ(clone->GetMechanismType(), CKM_SHA_1);
    EXPECT_EQ(CodeOf([&] { clone->DigestUpdate(session, Text("abc")); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(Final(*running, 20), sha1.abc);
}

TEST_F(ShaMechanisms, SavedStateRoundTrip)
{
    for (const Member& m : kMembers) {
        auto first = Init(m);
        first->DigestUpdate(session, Text("ab"));
        tru::BufferDynamic state;
        first->GetMechanismSessionState(state);
        ASSERT_GE(state.Size(), 2u);
        // Host-order 16-bit length, then the context.
        EXPECT_EQ(vdk::Math::GetUShort(vdk::Math::HOST, state.Data()) + 2u, state.Size());
        std::unique_ptr<zrck::TokMechanism> second(m.make());
        second->SetMechanismSessionState(session, zrck::CRYPTO_STATE_DIGEST, state, nullptr);
        first->DigestUpdate(session, Text("c"));
        second->DigestUpdate(session, Text("c"));
        EXPECT_EQ(Final(*first, m.length), m.abc);
        EXPECT_EQ(Final(*second, m.length), m.abc);
    }
}

TEST_F(ShaMechanisms, RefusedSavedStates)
{
    auto sha256 = Init(kMembers[2]);
    sha256->DigestUpdate(session, Text("ab"));
    tru::BufferDynamic good;
    sha256->GetMechanismSessionState(good);
    const std::string whole(reinterpret_cast<const char*>(good.Data()), good.Size());
    auto sha1 = Init(kMembers[0]);
    sha1->DigestUpdate(session, Text("ab"));
    tru::BufferDynamic sha1State;
    sha1->GetMechanismSessionState(sha1State);

    struct Case {
        const char* what;
        std::string state;
        CK_MECHANISM_TYPE into;
    };
    const Case cases[] = {
        {"empty", "", CKM_SHA256},
        {"one byte", whole.substr(0, 1), CKM_SHA256},
        {"body shorter than its length", whole.substr(0, whole.size() - 1), CKM_SHA256},
        {"SHA-256 state offered to SHA-1", whole, CKM_SHA_1},
        {"SHA-1 state offered to SHA-256",
         std::string(reinterpret_cast<const char*>(sha1State.Data()), sha1State.Size()), CKM_SHA256},
        {"SHA-256 state offered to SHA-224", whole, CKM_SHA224},
    };
    for (const Case& c : cases) {
        for (const Member& m : kMembers) {
            if (m.type != c.into) continue;
            std::unique_ptr<zrck::TokMechanism> target(m.make());
            EXPECT_EQ(CodeOf([&] {
                          target->SetMechanismSessionState(session, zrck::CRYPTO_STATE_DIGEST, Text(c.state), nullptr);
                      }),
                      CKR_SAVED_STATE_INVALID)
                << c.what;
        }
    }
    // Trailing bytes after the packet are ignored.
    std::unique_ptr<zrck::TokMechanism> target(kMembers[2].make());
    target->SetMechanismSessionState(session, zrck::CRYPTO_STATE_DIGEST, Text(whole + "tail"), nullptr);
    target->DigestUpdate(session, Text("c"));
    EXPECT_EQ(Final(*target, 32), kMembers[2].abc);
}

TEST_F(ShaMechanisms, SavedStateWithAKeyIsRefused)
{
    auto sha1 = Init(kMembers[0]);
    tru::BufferDynamic state;
    sha1->GetMechanismSessionState(state);
    std::unique_ptr<zrck::TokMechanism> target(kMembers[0].make());
    zrck::TokKey* key = reinterpret_cast<zrck::TokKey*>(&state);  // only compared with null
    EXPECT_EQ(CodeOf([&] { target->SetMechanismSessionState(session, zrck::CRYPTO_STATE_DIGEST, state, key); }),
              CKR_KEY_NOT_NEEDED);
}

}  // namespace
