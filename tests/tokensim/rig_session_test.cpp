// Device sessions: shared by connections, limited in number, kept by a warm reset.
#include "device_protocol.h"
#include "rig_fixture.h"

namespace tokensim::test {
namespace {

TEST_F(RigTest, SessionsAreSharedAcrossConnections) {
  StartRig({InitialisedToken()});
  auto a = Connect();
  auto b = Connect();
  Bytes s = a->OpenSession();
  EXPECT_EQ(b->Command(cmd::kGetSessionState, s).fields, U32(0));
  ASSERT_EQ(a->Command(cmd::kLogin, Concat({s, Short("12345678")})).status, 0);
  EXPECT_EQ(b->Command(cmd::kGetSessionState, s).fields, U32(2)) << "logged in, seen from the other connection";
  EXPECT_EQ(b->Command(cmd::kGetRand, Concat({s, {40}, Short("")})).fields.size(), 40u);

  Bytes other = b->OpenSession();
  EXPECT_NE(other, s);
  EXPECT_EQ(b->Command(cmd::kGetSessionState, other).fields, U32(0)) << "login is per session";
  EXPECT_EQ(b->Command(cmd::kGetRand, Concat({other, {8}, Short("")})).status, st::kNotAuthorized);

  EXPECT_EQ(b->Command(cmd::kLogout, s).status, 0);
  EXPECT_EQ(a->Command(cmd::kGetSessionState, s).fields, U32(0));
  EXPECT_EQ(b->Command(cmd::kCloseSession, s).status, 0);
  EXPECT_EQ(a->Command(cmd::kGetSessionState, s).status, st::kInvalidSession);
  EXPECT_EQ(a->Command(cmd::kCloseSession, s).status, st::kInvalidSession);
  EXPECT_EQ(rig_->Control().SessionCount(), 1u);
}

TEST_F(RigTest, SessionLimit) {
  StartRig({{"--sessions", "2"}});
  auto c = Connect();
  Bytes first = c->OpenSession();
  c->OpenSession();
  EXPECT_EQ(c->Command(cmd::kOpenSession).status, st::kSessionsLimit);
  ASSERT_EQ(c->Command(cmd::kCloseSession, first).status, 0);
  EXPECT_EQ(c->Command(cmd::kOpenSession).status, 0);
}

TEST_F(RigTest, WarmResetKeepsSessionsAndLogin) {
  StartRig({InitialisedToken()});
  auto c = Connect();
  Bytes s = c->OpenSession();
  ASSERT_EQ(c->Command(cmd::kLogin, Concat({s, Short("12345678")})).status, 0);
  rig_->ResetCard();
  Reply r;
  EXPECT_EQ(c->TryCommand(cmd::kGetSessionState, s, r), SCARD_W_RESET_CARD) << "the client learns of the reset";
  ASSERT_EQ(c->Reconnect(), SCARD_S_SUCCESS);
  EXPECT_EQ(c->Command(cmd::kGetSessionState, s).fields, U32(2));

  // A cold reset (power cycle) ends every session.
  ASSERT_EQ(c->Reconnect(SCARD_UNPOWER_CARD), SCARD_S_SUCCESS);
  EXPECT_EQ(c->Command(cmd::kGetSessionState, s).status, st::kInvalidSession);
}

}  // namespace
}  // namespace tokensim::test
