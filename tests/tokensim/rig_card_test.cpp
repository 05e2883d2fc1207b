// The card as pcscd sees it: ATRs, device attributes, removal, swap, faults and counters.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "device_protocol.h"
#include "rig_fixture.h"

namespace tokensim::test {
namespace {

// The host's acceptance rule: 19 bytes, the six pattern bytes, 00 in bytes 15 to 17.
int AcceptingBrand(const Bytes& atr, bool& lite) {
  if (atr.size() != 19 || atr[0] != 0x3B || atr[1] != 0x8F || atr[2] != 0x01) return -1;
  if (atr[15] != 0 || atr[16] != 0 || atr[17] != 0) return -1;
  std::string letters(atr.begin() + 3, atr.begin() + 6);
  lite = letters == "ZRU";
  if (letters == "ZRK" || letters == "ZRU") return 0;
  if (letters == "QJK") return 1;
  return -1;
}

struct AtrCase {
  const char* name;
  std::vector<std::string> options;
  int brand;  // -1: refused by both brands
  bool lite;
  size_t length;
};

TEST_F(RigTest, AtrPerBrandModelAndDeliberateFaults) {
  const AtrCase cases[] = {
      {"brand 0 full", {"--brand", "0"}, 0, false, 19},
      {"brand 0 lite", {"--brand", "0", "--model", "lite"}, 0, true, 19},
      {"brand 1 full", {"--brand", "1"}, 1, false, 19},
      {"brand 1 lite is no ATR of brand 1", {"--brand", "1", "--model", "lite"}, -1, false, 19},
      {"20 bytes", {"--atr", "long"}, -1, false, 20},
      {"byte 16 set", {"--atr", "bad-tail"}, -1, false, 19},
      {"foreign card", {"--atr", "foreign"}, -1, false, 13},
  };
  std::vector<std::vector<std::string>> sims;
  for (const AtrCase& c : cases) sims.push_back(c.options);
  StartRig(sims);
  for (size_t i = 0; i < sims.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    Bytes atr = Connect(i)->Atr();
    EXPECT_EQ(atr.size(), cases[i].length);
    bool lite = false;
    EXPECT_EQ(AcceptingBrand(atr, lite), cases[i].brand) << ToHex(atr);
    EXPECT_EQ(lite, cases[i].lite);
    uint8_t tck = 0;
    for (size_t b = 1; b < atr.size(); ++b) tck ^= atr[b];
    if (cases[i].brand >= 0) {
      EXPECT_EQ(tck, 0) << "T=1 check byte";
    }
  }
}

TEST_F(RigTest, AttributesDescribeTheToken) {
  StartRig({InitialisedToken({"--serial", "SER123", "--label", "My token", "--firmware", "4.15",
                              "--max-tries", "7", "--random-length", "16", "--model", "lite"})});
  auto c = Connect();
  // The exact exchange of reading the version word.
  Bytes answer;
  ASSERT_EQ(c->Transmit(Hex("81000000030110070016 05"), answer), SCARD_S_SUCCESS);
  EXPECT_EQ(ToHex(answer), "010004" "0000" "0F04" "9000");

  Bytes label(32, ' ');
  std::string text = "My token";
  std::copy(text.begin(), text.end(), label.begin());
  EXPECT_EQ(c->GetAttr(attr::kLabel), label);
  EXPECT_EQ(c->GetAttr(attr::kSerial), Bytes({'S', 'E', 'R', '1', '2', '3'}));
  EXPECT_EQ(c->GetAttr(attr::kModel), Bytes({'S', 'I', 'M', '-', 'U'}));
  EXPECT_FALSE(c->GetAttr(attr::kManufacturer).empty());
  EXPECT_EQ(c->GetAttr(attr::kFlags), U32(flag::kTokenInitialized | flag::kUserPinInitialized));
  EXPECT_EQ(c->GetAttr(attr::kRandomFieldLength), U32(16));
  EXPECT_EQ(c->GetAttr(attr::kMaxPinTries), U32(7));
  EXPECT_EQ(c->Command(cmd::kGetAttr, {2}).status, st::kInvalidAttributeId);
  EXPECT_EQ(c->Command(cmd::kSetAttr, Concat({{attr::kLabel}, Short("x")})).status, st::kNotAuthorized);
}

TEST_F(RigTest, NewTokenHasNoFlagsAndBlankLabel) {
  StartRig({{"--label", ""}});
  auto c = Connect();
  EXPECT_EQ(c->GetAttr(attr::kFlags), U32(0));
  EXPECT_EQ(c->GetAttr(attr::kLabel), Bytes(32, ' '));
}

TEST_F(RigTest, RemovalAndSwapAreSeenByTheClient) {
  StartRig({{"--serial", "FIRST"}});
  auto c = Connect();
  Bytes session = c->OpenSession();
  rig_->RemoveCard();
  Reply r;
  LONG rv = c->TryCommand(cmd::kGetAttr, {attr::kSerial}, r);
  EXPECT_TRUE(rv == SCARD_W_REMOVED_CARD || rv == SCARD_E_NO_SMARTCARD) << pcsc_stringify_error(rv);

  rig_->InsertCard();
  auto again = Connect();
  EXPECT_EQ(again->GetAttr(attr::kSerial), Bytes({'F', 'I', 'R', 'S', 'T'}));
  // Removal powers the card off: its sessions are gone.
  EXPECT_EQ(again->Command(cmd::kGetSessionState, session).status, st::kInvalidSession);

  rig_->SwapCard("SECOND");
  auto other = Connect();
  EXPECT_EQ(other->GetAttr(attr::kSerial), Bytes({'S', 'E', 'C', 'O', 'N', 'D'}));
}

TEST_F(RigTest, ForcedStatusesMalformedAnswersAndCounters) {
  StartRig();
  auto c = Connect();
  const rig::ControlClient& ctl = rig_->Control();
  ctl.ResetCounters();

  ctl.ForceStatus(st::kInvalidSession, 2, "GetAttr");
  EXPECT_EQ(c->Command(cmd::kOpenSession).status, 0);  // other commands are not affected
  EXPECT_EQ(c->Command(cmd::kGetAttr, {attr::kSerial}).status, st::kInvalidSession);
  EXPECT_EQ(c->Command(cmd::kGetAttr, {attr::kSerial}).status, st::kInvalidSession);
  EXPECT_EQ(c->Command(cmd::kGetAttr, {attr::kSerial}).status, 0);

  struct {
    const char* kind;
    const char* expected;
  } malformed[] = {{"sw-only", "9000"}, {"bad-marker", "02009000"}, {"bad-sw", "01006A82"}, {"one-byte", "90"}};
  for (const auto& m : malformed) {
    ctl.Malformed(m.kind, 1);
    Bytes answer;
    ASSERT_EQ(c->Transmit(BuildApdu(cmd::kGetAttr, {attr::kVersion}), answer), SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(answer), m.expected) << m.kind;
  }
  ctl.Malformed("truncated", 1);
  Bytes answer;
  ASSERT_EQ(c->Transmit(BuildApdu(cmd::kGetAttr, {attr::kVersion}), answer), SCARD_S_SUCCESS);
  EXPECT_EQ(ToHex(answer), "010004" "0000" "0F" "9000") << "one byte short of its announced length";

  ctl.SetDelayMs(20);
  EXPECT_EQ(c->Command(cmd::kGetAttr, {attr::kVersion}).status, 0);
  ctl.SetDelayMs(0);

  // A one-byte APDU cannot be told from a vpcd control; it still gets an answer.
  Bytes oneByte;
  ASSERT_EQ(c->Transmit({0x05}, oneByte), SCARD_S_SUCCESS);
  EXPECT_EQ(ToHex(oneByte), "6700");
  EXPECT_THROW(ctl.Malformed("empty", 1), rig::RigError);

  auto counters = ctl.Counters();
  EXPECT_EQ(counters["OpenSession"], 1u);
  EXPECT_EQ(counters["GetAttr"], 9u);
  EXPECT_EQ(counters["total"], 10u);
  EXPECT_EQ(ctl.Count("0x10"), 9u);
  // Refused answers: the two forced ones and the unknown attribute; malformed successes are not.
  EXPECT_EQ(c->Command(cmd::kGetAttr, {0x7F}).status, st::kInvalidAttributeId);
  auto refusals = ctl.Refusals();
  EXPECT_EQ(refusals["GetAttr"], 3u);
  EXPECT_EQ(refusals["total"], 3u);
  EXPECT_EQ(refusals.count("OpenSession"), 0u);
  ctl.ResetCounters();
  EXPECT_EQ(ctl.Count("GetAttr"), 0u);
  EXPECT_EQ(ctl.Refusals()["total"], 0u);
  EXPECT_THROW(ctl.Request("no-such-request"), rig::RigError);
}

TEST_F(RigTest, TraceShowsEachCommandAndAnswer) {
  StartRig({{}}, true);
  Connect()->Command(cmd::kGetAttr, {attr::kVersion});
  std::ifstream log(rig_->WorkDir() + "/tokensim-0.log");
  std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("> GetAttr"), std::string::npos) << text;
  EXPECT_NE(text.find("8100000003011007001605"), std::string::npos) << text;
  EXPECT_NE(text.find("status 0 010004"), std::string::npos) << text;
}

TEST_F(RigTest, StateFileKeepsContentsAcrossRestarts) {
  char dir[] = "/tmp/tokensim-state-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string state = std::string(dir) + "/token.state";
  StartRig({InitialisedToken({"--state", state})});
  {
    auto c = Connect();
    Bytes s = c->OpenSession();
    ASSERT_EQ(c->Command(cmd::kCreateFile, Concat({s, {5}})).status, 0);
    ASSERT_EQ(c->Command(cmd::kWriteFile, Concat({s, {5}, U16(0), Short("kept")})).status, 0);
    ASSERT_EQ(c->Command(cmd::kCheckUserPIN, Short("wrong-pin")).status, st::kInvalidPin);
  }
  // Restarted without PIN options: the state file decides.
  rig_->RestartSimulator(0, {"--state", state});
  auto c = Connect();
  Bytes s = c->OpenSession();
  Reply r = c->Command(cmd::kReadFile, Concat({s, {5}, U16(0), {4}}));
  EXPECT_EQ(r.fields, Bytes({'k', 'e', 'p', 't'}));
  EXPECT_EQ(c->GetAttr(attr::kFlags),
            U32(flag::kTokenInitialized | flag::kUserPinInitialized | flag::kUserPinCountLow));
  EXPECT_EQ(c->Command(cmd::kLogin, Concat({s, Short("12345678")})).status, 0);
  rig_.reset();
  std::remove(state.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace tokensim::test
