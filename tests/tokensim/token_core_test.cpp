// The simulator core without pcscd: framing, power controls, the control protocol and the
// state file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "apdu_frame.h"
#include "device_protocol.h"
#include "simulator.h"
#include "token_state.h"

namespace tokensim {
namespace {

Bytes Apdu(const std::string& header, size_t dataSize, const std::string& tail) {
  Bytes apdu;
  EXPECT_TRUE(FromHex(header, apdu));
  Bytes data(dataSize, 0x01);
  apdu.insert(apdu.end(), data.begin(), data.end());
  Bytes t;
  EXPECT_TRUE(FromHex(tail, t));
  apdu.insert(apdu.end(), t.begin(), t.end());
  return apdu;
}

struct FrameCase {
  const char* name;
  Bytes apdu;
  bool ok;
  size_t dataSize;
  uint16_t sw;
};

TEST(ApduFrame, LengthFormsOfTheTokensOwnFraming) {
  const FrameCase cases[] = {
      {"200 bytes, one-byte Lc", Apdu("81000000C8", 200, "001605"), true, 200, 0},
      {"300 bytes, Lc 00 2C 01 (low byte first)", Apdu("81000000002C01", 300, "001605"), true, 300, 0},
      {"no Le", Apdu("8100000002", 2, ""), true, 2, 0},
      {"one-byte Le", Apdu("8100000002", 2, "00"), true, 2, 0},
      {"two-byte Le without its 00", Apdu("8100000002", 2, "1605"), false, 0, 0x6700},
      {"data one byte short", Apdu("8100000003", 2, ""), false, 0, 0x6700},
      {"header only", Apdu("81000000", 0, ""), false, 0, 0x6700},
  };
  for (const FrameCase& c : cases) {
    Bytes data;
    uint16_t sw = 0;
    EXPECT_EQ(ParseCommandApdu(c.apdu, data, sw), c.ok) << c.name;
    if (c.ok) EXPECT_EQ(data.size(), c.dataSize) << c.name;
    else EXPECT_EQ(sw, c.sw) << c.name;
  }
  EXPECT_EQ(ToHex(FrameAnswer(0x29, {})), "01299000");
}

class SimulatorCore : public ::testing::Test {
 protected:
  Bytes Frame(const std::string& hex) {
    Bytes payload, answer;
    EXPECT_TRUE(FromHex(hex, payload));
    return sim_.HandleFrame(payload, answer) ? answer : Bytes{};
  }
  Simulator sim_{TokenOptions{}};
};

TEST_F(SimulatorCore, PowerOffEndsSessionsAWarmResetDoesNot) {
  EXPECT_EQ(Frame("04").size(), 19u) << "the ATR";
  Bytes open = Frame("810000000201360016 05");
  ASSERT_EQ(open.size(), 36u);
  std::string getState = "8100000022013A" + ToHex(open.data() + 2, 32) + "001605";
  EXPECT_TRUE(Frame("02").empty()) << "reset has no answer";
  EXPECT_EQ(ToHex(Frame(getState)), "0100000000009000");
  Frame("00");
  Frame("01");
  EXPECT_EQ(ToHex(Frame(getState)), "01299000");
}

TEST_F(SimulatorCore, ControlRequestsAreChecked) {
  const char* refused[] = {"", "force", "force 300 1", "force 5 1 NoSuchCommand", "malformed odd 1",
                           "delay -1", "swap 12345678901234567", "count", "trace maybe"};
  for (const char* r : refused) EXPECT_EQ(sim_.HandleControl(r).rfind("error", 0), 0u) << r;
  EXPECT_EQ(sim_.HandleControl("force 5 1 Sign"), "ok");
  EXPECT_EQ(sim_.HandleControl("force 5 1 0xA4"), "ok");
  EXPECT_EQ(sim_.HandleControl("ping"), "ok");
}

// Random requests for every command, with a real session and login so that the handlers get
// past their first checks; run under the sanitizers this finds overreads. Every answer must be
// a well-formed 01 status ... 90 00 or a bare status word.
TEST(SimulatorCoreRandom, ArbitraryRequestsAlwaysGetAnAnswer) {
  TokenOptions options;
  options.soPin = "87654321";
  options.userPin = "12345678";
  Simulator sim(options);
  Bytes answer;
  ASSERT_TRUE(sim.HandleFrame(Bytes{0x81, 0, 0, 0, 2, 1, cmd::kOpenSession, 0, 0x16, 5}, answer));
  ASSERT_EQ(answer.size(), 36u);
  Bytes session(answer.begin() + 2, answer.begin() + 34);
  const std::string pin = "12345678";
  Bytes login = {0x81, 0, 0, 0, static_cast<uint8_t>(2 + 32 + 1 + pin.size()), 1, cmd::kLogin};
  login.insert(login.end(), session.begin(), session.end());
  login.push_back(static_cast<uint8_t>(pin.size()));
  login.insert(login.end(), pin.begin(), pin.end());
  ASSERT_TRUE(sim.HandleFrame(login, answer));
  ASSERT_EQ(ToHex(answer), "01009000");

  // SetResponseDelay (13) is left out: it would make the answers wait.
  const uint8_t commands[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x10, 0x11, 0x12, 0x31, 0x32, 0x33, 0x34,
                              0x35, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0xA1, 0xA2, 0xA4, 0xA5,
                              0xA7, 0xA8, 0xA9, 0xB0, 0x30, 0x36, 0xEE};
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<uint8_t>(seed >> 16);
  };
  for (int round = 0; round < 50000; ++round) {
    uint8_t command = commands[next() % sizeof commands];
    Bytes data = {0x01, command};
    if (command != 0x30 && next() % 4 != 0) data.insert(data.end(), session.begin(), session.end());
    size_t extra = next() % 48;
    for (size_t i = 0; i < extra; ++i) data.push_back(next() % 3 == 0 ? next() % 4 : next());
    Bytes apdu = {0x81, 0, 0, 0, static_cast<uint8_t>(data.size())};
    apdu.insert(apdu.end(), data.begin(), data.end());
    ASSERT_TRUE(sim.HandleFrame(apdu, answer));
    bool framed = answer.size() >= 4 && answer[0] == 0x01 && answer[answer.size() - 2] == 0x90;
    ASSERT_TRUE(framed || answer.size() == 2) << ToHex(apdu);
  }
}

TEST(TokenStateFile, RoundTripAndRefusal) {
  char dir[] = "/tmp/tokensim-core-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/state";
  TokenOptions options;
  options.soPin = "so-pin-1";
  options.userPin = "user-pin";
  TokenState t = TokenState::FromOptions(options, "S1");
  t.user.failures = 2;
  t.files[0] = {1, 2, 3, 4};
  t.files[0x7E] = {};
  t.keys[180] = crypto::KeySlot{9, {0xAA, 0xBB}, {0xCC}};
  std::string error;
  ASSERT_TRUE(t.Save(path, error)) << error;

  TokenState loaded = TokenState::FromOptions(TokenOptions{}, "S1");
  ASSERT_TRUE(loaded.Load(path, error)) << error;
  EXPECT_TRUE(loaded.initialized && loaded.userPinInitialized);
  EXPECT_TRUE(loaded.user.pin.Equals(Bytes{'u', 's', 'e', 'r', '-', 'p', 'i', 'n'}));
  EXPECT_EQ(loaded.user.failures, 2u);
  EXPECT_EQ(loaded.files, t.files);
  ASSERT_EQ(loaded.keys.count(180), 1u);
  EXPECT_EQ(loaded.keys[180].privateBlob, Bytes({0xAA, 0xBB}));

  const char* broken[] = {"tokensim-state 1\nfile 200 00\n", "tokensim-state 1\nfile 3 0G\n",
                          "tokensim-state 2\n", "file 3 00\n", "tokensim-state 1\nkey 100 9 00 00\n"};
  for (const char* text : broken) {
    std::ofstream(path) << text;
    TokenState keep = loaded;
    EXPECT_FALSE(keep.Load(path, error)) << text;
    EXPECT_EQ(keep.files, loaded.files) << "a refused file changes nothing";
  }
  std::remove(path.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace tokensim
