// Key commands through the device: key slots, logins, capability gating by model and
// firmware, and the on-token cryptography end to end (the algorithms themselves are tested
// with the crypto library).
#include "device_protocol.h"
#include "rig_fixture.h"

namespace tokensim::test {
namespace {

class KeyTest : public RigTest {
 protected:
  void Start(std::vector<std::string> more = {}) {
    StartRig({InitialisedToken(more)});
    if (IsSkipped() || HasFatalFailure()) return;
    c_ = Connect();
    s_ = c_->OpenSession();
  }
  void Login() { ASSERT_EQ(c_->Command(cmd::kLogin, Concat({s_, Short("12345678")})).status, 0); }
  Reply Generate(uint8_t paramSet, uint8_t slot) { return c_->Command(cmd::kGenerateKey, Concat({s_, {paramSet, slot}})); }
  Reply Sign(uint8_t slot, const Bytes& data) { return c_->Command(cmd::kSign, Concat({s_, {slot}, Long(data)})); }
  uint8_t Verify(uint8_t paramSet, const Bytes& key, const Bytes& sig, const Bytes& data) {
    return c_->Command(cmd::kVerify, Concat({s_, {paramSet}, Long(key), Long(sig), Long(data)})).status;
  }
  // The u16 + bytes answer field.
  static Bytes Block(const Reply& r) {
    if (r.fields.size() < 2) return {};
    size_t n = r.fields[0] | r.fields[1] << 8;
    EXPECT_EQ(n + 2, r.fields.size());
    return Bytes(r.fields.begin() + 2, r.fields.end());
  }

  std::unique_ptr<PcscClient> c_;
  Bytes s_;
};

struct SignCase {
  const char* name;
  uint8_t paramSet;
  size_t publicKeySize;
};

TEST_F(KeyTest, SignedOnTheTokenVerifiedByTheToken) {
  Start();
  Login();
  const Bytes digest(32, 0x3C);
  const SignCase cases[] = {
      {"DSTU 4145 163", paramset::kDstu163, 0},
      {"ECDSA P-256", paramset::kP256, 65},
      {"RSA 512", paramset::kRsa512, 71},
  };
  uint8_t slot = fileid::kFirstKeySlot;
  Bytes firstPublicKey;  // DSTU 4145 key in the first slot
  for (const SignCase& sc : cases) {
    SCOPED_TRACE(sc.name);
    Reply g = Generate(sc.paramSet, slot);
    ASSERT_EQ(g.status, 0);
    Bytes publicKey = Block(g);
    if (firstPublicKey.empty()) firstPublicKey = publicKey;
    if (sc.publicKeySize != 0) {
      EXPECT_EQ(publicKey.size(), sc.publicKeySize);
    }
    Reply s = Sign(slot, digest);
    ASSERT_EQ(s.status, 0);
    Bytes signature = Block(s);
    EXPECT_EQ(Verify(sc.paramSet, publicKey, signature, digest), 0);
    signature[signature.size() / 2] ^= 0x01;
    EXPECT_EQ(Verify(sc.paramSet, publicKey, signature, digest), st::kSignatureInvalid);
    ++slot;
  }
  // Requests over 255 bytes travel with the three-byte Lc through pcscd.
  Bytes large(600);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i);
  ASSERT_GT(BuildApdu(cmd::kSign, Concat({s_, {fileid::kFirstKeySlot}, Long(large)})).size(), 600u);
  Reply big = Sign(fileid::kFirstKeySlot, large);
  ASSERT_EQ(big.status, 0);
  EXPECT_EQ(Verify(paramset::kDstu163, firstPublicKey, Block(big), large), 0);

  EXPECT_EQ(c_->Command(cmd::kGetFileSize, Concat({s_, {fileid::kFirstKeySlot}})).fields, U16(0));
  ASSERT_EQ(c_->Command(cmd::kDeleteFile, Concat({s_, {fileid::kFirstKeySlot}})).status, 0);
  EXPECT_EQ(Sign(fileid::kFirstKeySlot, digest).status, st::kFileNotFound);
}

TEST_F(KeyTest, KeyAgreementGivesBothSidesOneKey) {
  Start();
  Login();
  Bytes a = Block(Generate(paramset::kDstu163, 180));
  Bytes b = Block(Generate(paramset::kDstu163, 181));
  Bytes sbox(64);
  for (size_t i = 0; i < sbox.size(); ++i) sbox[i] = static_cast<uint8_t>(i * 37);
  auto agree = [&](uint8_t slot, const Bytes& peer) {
    Reply r = c_->Command(cmd::kGetCommonKey, Concat({s_, {slot}, Long(peer), {1}, Long(sbox), U32(1), Long({7, 7})}));
    EXPECT_EQ(r.status, 0);
    return Block(r);
  };
  Bytes ab = agree(180, b);
  EXPECT_EQ(ab.size(), 32u);
  EXPECT_EQ(ab, agree(181, a));
}

TEST_F(KeyTest, PrivateKeyCommandsNeedTheUser) {
  Start();
  EXPECT_EQ(Generate(paramset::kDstu163, 180).status, st::kNotAuthorized);
  EXPECT_EQ(Sign(180, Bytes(32, 1)).status, st::kNotAuthorized);
  EXPECT_EQ(c_->Command(cmd::kLoadKey, Concat({s_, {paramset::kDstu163}, Long({1, 2}), {180}})).status, st::kNotAuthorized);
  EXPECT_EQ(c_->Command(cmd::kGetRand, Concat({s_, {8}, Short("")})).status, st::kNotAuthorized);
  Login();
  EXPECT_EQ(Generate(paramset::kDstu163, 179).status, st::kBadFileIndex);
  EXPECT_EQ(Generate(paramset::kDstu163, 241).status, st::kBadFileIndex);
  EXPECT_EQ(Sign(200, Bytes(32, 1)).status, st::kFileNotFound);
  EXPECT_EQ(Generate(1, 180).status, st::kUnsupportedParamSet) << "GOST 34.10 sets are not on this token";
}

struct CapabilityCase {
  const char* name;
  std::vector<std::string> options;
  uint8_t paramSet;
  bool supported;
};

// At most 8 simulators in one rig. Verify with empty fields: an unsupported set answers 36 before any cryptography.
TEST_F(RigTest, ParameterSetsFollowModelAndFirmware) {
  const CapabilityCase cases[] = {
      {"5.15 ECDSA", {"--firmware", "5.15"}, paramset::kP521, true},
      {"4.15 ECDSA", {"--firmware", "4.15"}, paramset::kP256, false},
      {"4.15 RSA 512", {"--firmware", "4.15"}, paramset::kRsa512, true},
      {"4.14 RSA 512", {"--firmware", "4.14"}, paramset::kRsa512, false},
      {"4.14 DSTU 431", {"--firmware", "4.14"}, paramset::kDstu431, true},
      {"4.13 DSTU 431", {"--firmware", "4.13"}, paramset::kDstu431, false},
      {"lite RSA 1024", {"--model", "lite"}, paramset::kRsa1024, false},
      {"lite DSTU 257", {"--model", "lite"}, paramset::kDstu257, true},
  };
  std::vector<std::vector<std::string>> sims;
  for (const CapabilityCase& c : cases) sims.push_back(c.options);
  StartRig(sims);
  for (size_t i = 0; i < sims.size(); ++i) {
    auto c = Connect(i);
    Bytes s = c->OpenSession();
    uint8_t status = c->Command(cmd::kVerify, Concat({s, {cases[i].paramSet}, Long({}), Long({}), Long({})})).status;
    EXPECT_EQ(status != st::kUnsupportedParamSet, cases[i].supported) << cases[i].name << " answered " << int(status);
  }
}

}  // namespace
}  // namespace tokensim::test
