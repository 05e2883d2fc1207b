// PIN initialisation, checks, changes, try counters and locking, and logins.
#include "device_protocol.h"
#include "rig_fixture.h"

namespace tokensim::test {
namespace {

const uint32_t kInitialised = flag::kTokenInitialized | flag::kUserPinInitialized;

Bytes Random(size_t n) { return Bytes(n, 0x5A); }

TEST_F(RigTest, UserPinCountsDownLocksAndIsResetByTheRightPin) {
  StartRig({InitialisedToken({"--max-tries", "3"})});
  auto c = Connect();
  EXPECT_EQ(c->Command(cmd::kCheckUserPIN, Short("wrong-1")).status, st::kInvalidPin);
  EXPECT_EQ(c->GetAttr(attr::kFlags), U32(kInitialised | flag::kUserPinCountLow));
  EXPECT_EQ(c->Command(cmd::kCheckUserPIN, Short("wrong-2")).status, st::kInvalidPin);
  EXPECT_EQ(c->GetAttr(attr::kFlags), U32(kInitialised | flag::kUserPinCountLow | flag::kUserPinFinalTry));
  // The right PIN before the last try resets the count.
  EXPECT_EQ(c->Command(cmd::kCheckUserPIN, Short("12345678")).status, 0);
  EXPECT_EQ(c->GetAttr(attr::kFlags), U32(kInitialised));

  Bytes s = c->OpenSession();
  for (int i = 0; i < 2; ++i) EXPECT_EQ(c->Command(cmd::kLogin, Concat({s, Short("wrong-pin")})).status, st::kInvalidPin);
  EXPECT_EQ(c->Command(cmd::kLogin, Concat({s, Short("wrong-pin")})).status, st::kInvalidPin) << "the locking try";
  EXPECT_EQ(c->GetAttr(attr::kFlags), U32(kInitialised | flag::kUserPinCountLow | flag::kUserPinLocked));
  EXPECT_EQ(c->Command(cmd::kLogin, Concat({s, Short("12345678")})).status, st::kPinLocked);
  EXPECT_EQ(c->Command(cmd::kGetSessionState, s).fields, U32(0));

  // The SO sets the user PIN again: unlocked, counter cleared.
  EXPECT_EQ(c->Command(cmd::kInitUserPIN, Concat({Short("87654321"), Short("new-user-pin")})).status, 0);
  EXPECT_EQ(c->GetAttr(attr::kFlags), U32(kInitialised));
  EXPECT_EQ(c->Command(cmd::kLogin, Concat({s, Short("new-user-pin")})).status, 0);
  EXPECT_EQ(c->Command(cmd::kGetSessionState, s).fields, U32(2));
}

TEST_F(RigTest, SoPinLocksAfterItsOwnTries) {
  StartRig({InitialisedToken()});
  auto c = Connect();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(c->Command(cmd::kCheckSOPIN, Short("bad-so-pin")).status, st::kInvalidPin);
  EXPECT_EQ(c->Command(cmd::kCheckSOPIN, Short("87654321")).status, st::kPinLocked);
  EXPECT_EQ(c->Command(cmd::kInitUserPIN, Concat({Short("87654321"), Short("whatever1")})).status, st::kPinLocked);
  // The user PIN is a counter of its own.
  EXPECT_EQ(c->Command(cmd::kCheckUserPIN, Short("12345678")).status, 0);
}

TEST_F(RigTest, NewTokenIsInitialisedThenGetsItsUserPin) {
  StartRig({{"--random-length", "8"}});
  auto c = Connect();
  Bytes s = c->OpenSession();
  EXPECT_EQ(c->Command(cmd::kLogin, Concat({s, Short("12345678")})).status, st::kNotInitialized);
  EXPECT_EQ(c->Command(cmd::kInitUserPIN, Concat({Short("so-pin-1"), Short("12345678")})).status, st::kNotInitialized);
  EXPECT_EQ(c->Command(cmd::kInitSOPIN, Concat({Short("so-pin-1"), Short(Random(7)), Short("label")})).status,
            st::kBadLength) << "random field of the wrong length";
  EXPECT_EQ(c->Command(cmd::kInitSOPIN, Concat({Short("short"), Short(Random(8)), Short("label")})).status,
            st::kBadLength) << "SO PIN below 6 bytes";
  ASSERT_EQ(c->Command(cmd::kInitSOPIN, Concat({Short("so-pin-1"), Short(Random(8)), Short("New label")})).status, 0);
  EXPECT_EQ(c->GetAttr(attr::kFlags), U32(flag::kTokenInitialized));
  Bytes label(32, ' ');
  std::string text = "New label";
  std::copy(text.begin(), text.end(), label.begin());
  EXPECT_EQ(c->GetAttr(attr::kLabel), label);
  EXPECT_EQ(c->Command(cmd::kGetSessionState, s).status, st::kInvalidSession) << "initialisation ends sessions";

  EXPECT_EQ(c->Command(cmd::kInitUserPIN, Concat({Short("so-pin-2"), Short("12345678")})).status, st::kInvalidPin);
  ASSERT_EQ(c->Command(cmd::kInitUserPIN, Concat({Short("so-pin-1"), Short("12345678")})).status, 0);
  EXPECT_EQ(c->GetAttr(attr::kFlags), U32(kInitialised));
  s = c->OpenSession();
  EXPECT_EQ(c->Command(cmd::kLogin, Concat({s, Short("12345678")})).status, 0);
}

TEST_F(RigTest, ReinitialisationNeedsTheSoPinAndErasesTheToken) {
  StartRig({InitialisedToken()});
  auto c = Connect();
  Bytes s = c->OpenSession();
  ASSERT_EQ(c->Command(cmd::kCreateFile, Concat({s, {1}})).status, 0);
  EXPECT_EQ(c->Command(cmd::kInitSOPIN, Concat({Short("not-the-so"), Short(Random(32)), Short("x")})).status,
            st::kInvalidPin);
  s = c->OpenSession();
  EXPECT_EQ(c->Command(cmd::kGetFileSize, Concat({s, {1}})).status, 0) << "a refused re-initialisation keeps files";
  ASSERT_EQ(c->Command(cmd::kInitSOPIN, Concat({Short("87654321"), Short(Random(32)), Short("x")})).status, 0);
  EXPECT_EQ(c->GetAttr(attr::kFlags), U32(flag::kTokenInitialized));
  s = c->OpenSession();
  EXPECT_EQ(c->Command(cmd::kGetFileSize, Concat({s, {1}})).status, st::kFileNotFound);
}

TEST_F(RigTest, ChangingPinsAndTheTryMaximum) {
  StartRig({InitialisedToken()});
  auto c = Connect();
  Bytes random = Random(32);
  EXPECT_EQ(c->Command(cmd::kChangeUserPIN, Concat({Short("wrong-old"), Short("abcdefgh"), Short(random)})).status,
            st::kInvalidPin);
  EXPECT_EQ(c->Command(cmd::kChangeUserPIN, Concat({Short("12345678"), Short("abc"), Short(random)})).status,
            st::kBadLength);
  EXPECT_EQ(c->Command(cmd::kChangeUserPIN, Concat({Short("12345678"), Short("abcdefgh"), Short(random)})).status, 0);
  EXPECT_EQ(c->Command(cmd::kCheckUserPIN, Short("abcdefgh")).status, 0);

  EXPECT_EQ(c->Command(cmd::kChangeSOPIN, Concat({Short("87654321"), Short("new-so-pin")})).status, 0);
  EXPECT_EQ(c->Command(cmd::kCheckSOPIN, Short("new-so-pin")).status, 0);

  // SetMaxAuthCtr: fixed 39-byte data field, the SO PIN, the count, zero filler.
  auto maxAuth = [](const std::string& so, uint32_t count) {
    Bytes f = Concat({Short(so), U32(count)});
    f.resize(37, 0);
    return f;
  };
  EXPECT_EQ(BuildApdu(cmd::kSetMaxAuthCtr, maxAuth("new-so-pin", 4))[4], 39);
  EXPECT_EQ(c->Command(cmd::kSetMaxAuthCtr, maxAuth("new-so-pin", 4)).status, 0);
  EXPECT_EQ(c->GetAttr(attr::kMaxPinTries), U32(4));
  EXPECT_EQ(c->Command(cmd::kSetMaxAuthCtr, maxAuth("new-so-pin", 0)).status, st::kInvalidArgument);
  EXPECT_EQ(c->Command(cmd::kSetMaxAuthCtr, maxAuth("wrong-so-pin", 5)).status, st::kInvalidPin);
  Bytes shortField = maxAuth("new-so-pin", 5);
  shortField.pop_back();
  EXPECT_EQ(c->Command(cmd::kSetMaxAuthCtr, shortField).status, st::kBadLength);
}

}  // namespace
}  // namespace tokensim::test
