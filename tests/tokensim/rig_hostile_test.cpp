// Hostile and malformed requests get an error, never a crash: the card keeps answering.
#include "device_protocol.h"
#include "rig_fixture.h"

namespace tokensim::test {
namespace {

struct HostileCase {
  const char* name;
  const char* apdu;
  const char* answer;  // whole answer in hex
};

TEST_F(RigTest, HostileRequestsGetErrorStatuses) {
  StartRig({InitialisedToken()});
  auto c = Connect();
  const HostileCase cases[] = {
      {"wrong class", "00A4040000", "6E00"},
      {"wrong instruction", "8101000002013600", "6D00"},
      {"wrong P1", "8100010002013600", "6B00"},
      {"Lc beyond the data", "8100000009013600", "6700"},
      {"extended Lc beyond the data", "8100000000FF0001", "6700"},
      {"zero extended Lc", "810000000000000136", "6700"},
      {"garbage after Le", "81000000020136001605FF", "6700"},
      {"marker other than 01", "81000000020236001605", "01029000"},
      {"marker without command", "810000000101001605", "01029000"},
      {"unknown command", "810000000201EE001605", "01029000"},
      {"session cut short", "81000000050101001122001605", "01279000"},
      {"trailing byte", "81000000030136AA001605", "01279000"},
      {"GetAttr without its ID", "810000000201 10 001605", "01279000"},
      {"PIN length past the data", "8100000004013550 41001605", "01279000"},
      {"SetMaxAuthCtr of the wrong size", "8100000004013D 0100 001605", "01279000"},
      {"TestResponseDelay too long", "8100000004011200FF001605", "01279000"},
  };
  for (const HostileCase& hc : cases) {
    Bytes answer;
    ASSERT_EQ(c->Transmit(Hex(hc.apdu), answer), SCARD_S_SUCCESS) << hc.name;
    EXPECT_EQ(ToHex(answer), hc.answer) << hc.name;
  }
  // Key commands whose u16 lengths run past the data.
  Bytes s = c->OpenSession();
  EXPECT_EQ(c->Command(cmd::kSign, Concat({s, {180}, U16(500), Bytes(10, 1)})).status, st::kBadLength);
  EXPECT_EQ(c->Command(cmd::kVerify, Concat({s, {9}, U16(3), {1, 2, 3}, U16(2)})).status, st::kBadLength);
  EXPECT_EQ(c->Command(cmd::kEncrypt, Concat({s, {6}, Long({1}), Long({2})})).status, st::kBadLength)
      << "without the filler";
  // After all that the card still works.
  EXPECT_EQ(c->GetAttr(attr::kSerial).empty(), false);
  EXPECT_EQ(c->Command(cmd::kGetSessionState, s).status, 0);
}

}  // namespace
}  // namespace tokensim::test
